// The window as it first appears: controls, texts, colours, fonts, order.
#include <unistd.h>
#include <QAbstractItemView>
#include <QComboBox>
#include <QMenu>
#include <QTreeView>

#include "app/combo_resize.h"
#include "main_fixture.h"

namespace tavo::testing {
namespace {

struct Design {
    const char* name;
    QRect pixels;  // the layout's twips at 15 to the pixel
    const char* toolTip;
};

TEST_F(MainTest, EveryControlAtItsDesignPlaceWithItsToolTip) {
    const Design design[] = {
        {"cmbFunction", {0, 16, 121, 21}, "Select the type of information you want"},
        {"txtComputer", {120, 19, 90, 19}, "Change the computer you are searching"},
        {"cmdSwitch", {211, 16, 49, 22}, "Collect the data"},
        {"cmdExport", {259, 16, 49, 22}, "Export the results"},
        {"cmdExportHTM", {307, 16, 49, 22}, "Export the results"},
        {"txtFreq", {363, 21, 16, 14}, ""},
        {"lblFreq", {381, 20, 33, 17}, ""},
        {"lblTime", {408, 20, 169, 17}, ""},
        // Positions of the frame's own controls at the design size of the window.
        {"lblCaption", {0, 0, 607, 17}, ""},
        {"Maximise", {556, 1, 16, 16}, "Maximise"},
        {"Close", {573, 1, 17, 15}, "Exit"},
        {"Results", {0, 38, 590, 153}, ""},
        {"website", {0, 198, 607, 17}, ""},
    };
    window->show();
    ASSERT_EQ(window->size(), QSize(607, 234));
    for (const auto& d : design) {
        auto* w = window->findChild<QWidget*>(QString::fromLatin1(d.name));
        ASSERT_NE(w, nullptr) << d.name;
        EXPECT_EQ(w->geometry(), d.pixels) << d.name;
        EXPECT_EQ(w->toolTip(), QString::fromLatin1(d.toolTip)) << d.name;
    }
}

TEST_F(MainTest, StartsStoppedWithTheDesignTexts) {
    EXPECT_EQ(label("lblCaption")->text(), " Tavo from tavo.example.org");
    EXPECT_EQ(field("txtComputer")->text(), "TESTPC");
    EXPECT_EQ(button("cmdSwitch")->text(), "RUN");
    EXPECT_TRUE(button("cmdSwitch")->isEnabled());
    EXPECT_EQ(button("cmdExport")->text(), "Csv");
    EXPECT_EQ(button("cmdExportHTM")->text(), "Html");
    EXPECT_FALSE(button("cmdExport")->isEnabled());
    EXPECT_FALSE(button("cmdExportHTM")->isEnabled());
    EXPECT_EQ(field("txtFreq")->text(), "30");
    EXPECT_FALSE(field("txtFreq")->isHidden());
    EXPECT_EQ(label("lblFreq")->text(), "sec");
    EXPECT_TRUE(label("lblTime")->text().isEmpty());
    EXPECT_EQ(label("website")->text(), "tavo.example.org");
    EXPECT_FALSE(timer()->isActive());
    EXPECT_EQ(timer()->interval(), 1000);
    EXPECT_EQ(window->results().columnsCount(), 0);
    EXPECT_EQ(window->results().itemsCount(), 0);

    auto* menu = control<QMenu>("mnuComputer");
    ASSERT_NE(menu, nullptr);
    QStringList items;
    for (QAction* a : menu->actions())
        if (a->isVisible()) items << a->objectName() + "=" + a->text();
    EXPECT_EQ(items, QStringList({"mnuComputerName=This Computer",
                                  "mnuPrimaryDNS=Primary DNS Server", "mnuCustomComputer=Custom",
                                  "mnuComputersFromFile=Computers from a file…",
                                  "mnuListedComputers=The computers listed"}));
}

TEST_F(MainTest, ComputerFieldFromTheVariableElseTheHostName) {
    {
        ScopedComputerName unset(nullptr);
        makeWindow();
        char host[256] = {};
        ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
        EXPECT_EQ(field("txtComputer")->text(), QString::fromLocal8Bit(host));
        EXPECT_FALSE(field("txtComputer")->text().isEmpty());
    }
    ScopedComputerName set("Ünïcode-PC");
    makeWindow();
    EXPECT_EQ(field("txtComputer")->text(), QString::fromUtf8("Ünïcode-PC"));
}

TEST_F(MainTest, CategoryListInOrderWithNetworkAdaptersShown) {
    auto* combo = control<QComboBox>("cmbFunction");
    const QStringList expected = {"Battery",
                                  "BIOS",
                                  "Computer",
                                  "Desktops",
                                  "Environ Variables",
                                  "Logical Drives",
                                  "Motherboard",
                                  "Network Adapters",
                                  "Network Computers",
                                  "Operating System",
                                  "Physical Drives",
                                  "Physical Memory",
                                  "Print Jobs",
                                  "Printers",
                                  "Processes",
                                  "Processor",
                                  "Programs",
                                  "Routing Table",
                                  "Services",
                                  "Shares",
                                  "TimeZone",
                                  "User Accounts",
                                  "Video"};
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
    EXPECT_EQ(items, expected);
    EXPECT_EQ(combo->currentText(), "Network Adapters");
}

TEST_F(MainTest, DropDownReaches150PixelsBelowTheWindow) {
    auto* combo = control<DropDownCombo>("cmbFunction");
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->dropDownSize(), QSize(121, 368));
    window->show();
    combo->showPopup();
    QWidget* popup = combo->view()->window();
    ASSERT_TRUE(popup->isVisible());
    EXPECT_EQ(combo->height() + popup->height(), 368);
    EXPECT_EQ(popup->width(), combo->width());
    EXPECT_EQ(popup->geometry().top(), combo->mapToGlobal(QPoint(0, combo->height())).y());
    combo->hidePopup();

    // Sized once: a larger window does not change it.
    window->resize(800, 400);
    EXPECT_EQ(combo->dropDownSize(), QSize(121, 368));
}

QColor back(QWidget* w, QPalette::ColorRole role = QPalette::Window) {
    return w->palette().color(role);
}
QColor fore(QWidget* w, QPalette::ColorRole role = QPalette::WindowText) {
    return w->palette().color(role);
}

TEST_F(MainTest, ColoursAndFonts) {
    EXPECT_EQ(back(window.get()), QColor("#C0C0C0"));
    EXPECT_EQ(back(label("lblCaption")), QColor("#404040"));
    EXPECT_EQ(fore(label("lblCaption")), QColor("#FFFFFF"));
    EXPECT_EQ(back(label("Maximise")), QColor("#404040"));
    EXPECT_EQ(back(label("Close")), QColor("#404040"));
    EXPECT_EQ(back(control<QWidget>("cmbFunction"), QPalette::Base), QColor("#FFFFFF"));
    EXPECT_EQ(back(field("txtComputer"), QPalette::Base), QColor("#FFFF80"));
    EXPECT_EQ(back(button("cmdSwitch"), QPalette::Button), QColor("#C0FFC0"));
    EXPECT_EQ(back(button("cmdExport"), QPalette::Button), QColor("#C0C0FF"));
    EXPECT_EQ(back(button("cmdExportHTM"), QPalette::Button), QColor("#C0C0FF"));
    EXPECT_EQ(back(field("txtFreq"), QPalette::Base), QColor("#C0C0C0"));
    EXPECT_EQ(fore(field("txtFreq"), QPalette::Text), QColor("#000000"));
    EXPECT_EQ(back(label("lblFreq")), QColor("#404040"));
    EXPECT_EQ(fore(label("lblFreq")), QColor("#000000"));
    EXPECT_EQ(fore(label("lblTime")), QColor("#FF0000"));
    EXPECT_EQ(fore(label("website")), QColor("#0000FF"));

    const QFont caption = label("lblCaption")->font();
    EXPECT_EQ(caption.families().value(0), "Tahoma");
    EXPECT_DOUBLE_EQ(caption.pointSizeF(), 8.25);
    EXPECT_EQ(caption.weight(), QFont::Normal);
    for (QWidget* bold :
         {static_cast<QWidget*>(field("txtFreq")), static_cast<QWidget*>(label("lblTime"))}) {
        EXPECT_EQ(bold->font().families().value(0), "MS Sans Serif");
        EXPECT_EQ(bold->font().weight(), 700);
        EXPECT_DOUBLE_EQ(bold->font().pointSizeF(), 8.25);
    }
}

TEST_F(MainTest, IconsAndGridLook) {
    const QList<QSize> sizes = window->windowIcon().availableSizes();
    for (QSize s : {QSize(16, 16), QSize(24, 24), QSize(32, 32)})
        EXPECT_TRUE(sizes.contains(s)) << s.width();
    EXPECT_FALSE(label("Maximise")->pixmap().isNull());
    EXPECT_FALSE(label("Close")->pixmap().isNull());

    auto* results = control<QTreeView>("Results");
    EXPECT_FALSE(results->rootIsDecorated());
    EXPECT_TRUE(results->uniformRowHeights());
    EXPECT_FALSE(results->isHeaderHidden());
}

TEST_F(MainTest, TabOrderFollowsTheTabIndexes) {
    const char* order[] = {"txtFreq",     "cmdSwitch", "Results",     "txtComputer",
                           "cmbFunction", "cmdExport", "cmdExportHTM"};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        QWidget* from = window->findChild<QWidget*>(order[i - 1]);
        QWidget* next = from->nextInFocusChain();
        // A combo's own line edit sits in the chain after it.
        while (next && next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
        if (next && next->parentWidget() && next->parentWidget()->objectName() == order[i - 1])
            next = next->nextInFocusChain();
        EXPECT_EQ(next ? next->objectName() : QString(), order[i]) << order[i - 1];
    }
}

}  // namespace
}  // namespace tavo::testing
