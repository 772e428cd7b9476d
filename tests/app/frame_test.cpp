// The window's own frame (drag, maximise, close, website, layout) and the
// target computer menu.
#include <QMenu>
#include <QMouseEvent>
#include <QSizeGrip>
#include <QTest>
#include <QTreeView>

#include "main_fixture.h"
#include "target/target_computer.h"

namespace tavo::testing {
namespace {

using tavo::wmi::Value;

class FrameTest : public MainTest {
  protected:
    void mouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButton button) {
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
        QMouseEvent e(type, QPointF(at), w->mapToGlobal(QPointF(at)),
                      type == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    }
    void click(QWidget* w) {
        mouse(w, QEvent::MouseButtonPress, QPoint(3, 3), Qt::LeftButton);
        mouse(w, QEvent::MouseButtonRelease, QPoint(3, 3), Qt::LeftButton);
    }
    // The grid's and the strip's places in twips, for the layout checks.
    void expectLayout(int W, int H) {
        const auto t = [](int px) { return px * 15; };
        EXPECT_EQ(t(label("lblCaption")->width()), t(W));
        EXPECT_EQ(t(label("Close")->x()), t(W) - 255 - 255);
        EXPECT_EQ(label("Maximise")->x(), qRound((t(W) - 255 - 255 - 240 - 10) / 15.0));
        EXPECT_EQ(t(label("website")->width()), t(W));
        EXPECT_EQ(t(label("website")->y()), t(H) - 255 - 285);
        auto* results = control<QTreeView>("Results");
        EXPECT_EQ(t(results->width()), t(W) - 255);
        EXPECT_EQ(results->height(), qRound((t(H) - 570 - 255 - 285 - 100) / 15.0));
        EXPECT_EQ(results->pos(), QPoint(0, 38));
    }
};

TEST_F(FrameTest, LayoutAtTheDesignSize) {
    window->show();
    // The worked example: 9105 x 3510 twips.
    EXPECT_EQ(label("lblCaption")->width() * 15, 9105);
    EXPECT_EQ(label("Close")->x() * 15, 8595);
    EXPECT_EQ(std::lround(8345 / 15.0), label("Maximise")->x());
    EXPECT_EQ(label("website")->y() * 15, 2970);
    EXPECT_EQ(label("website")->width() * 15, 9105);
    EXPECT_EQ(control<QTreeView>("Results")->width() * 15, 8850);
    EXPECT_EQ(control<QTreeView>("Results")->height(), std::lround(2300 / 15.0));

    window->resize(1000, 700);
    expectLayout(1000, 700);
    // Two thirds of the width beyond the design go to the computer field, the
    // rest to the time label; the controls between them move along.
    const int grow = static_cast<int>(std::lround((1000 * 15 - 9105) * 2 / 3 / 15.0));
    EXPECT_EQ(field("txtComputer")->geometry(), QRect(120, 19, 90 + grow, 19));
    EXPECT_EQ(button("cmdSwitch")->geometry(), QRect(211 + grow, 16, 49, 22));
    EXPECT_EQ(label("lblTime")->geometry().right() + 1, 1000 - (9105 - 8655) / 15)
        << "the label ends as far from the window's edge as in the design";
}

TEST_F(FrameTest, TooSmallAWindowKeepsEverySizeAtZeroOrAbove) {
    window->show();
    window->resize(10, 10);
    EXPECT_GE(control<QTreeView>("Results")->height(), 0);
    EXPECT_GE(label("Maximise")->x(), 0);
    EXPECT_GE(control<QTreeView>("Results")->width(), 0);
    EXPECT_GE(window->height(), 81);
}

TEST_F(FrameTest, MaximiseAndRestoreRefitTheGrid) {
    window->show();
    const QSize normal = window->size();
    click(label("Maximise"));
    EXPECT_TRUE(window->windowState() & Qt::WindowMaximized);
    QTest::qWait(0);
    ASSERT_NE(window->size(), normal);
    expectLayout(window->width(), window->height());

    window->Maximise_Click();
    EXPECT_FALSE(window->windowState() & Qt::WindowMaximized);
    QTest::qWait(0);
    EXPECT_EQ(window->size(), normal);
    expectLayout(normal.width(), normal.height());

    // A minimised window comes back to normal, not maximised.
    window->setWindowState(Qt::WindowMinimized);
    window->Maximise_Click();
    EXPECT_EQ(window->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized), 0);
}

TEST_F(FrameTest, DragMovesByThePointersTravelWithAnyButton) {
    window->show();
    window->move(100, 100);
    QWidget* caption = label("lblCaption");
    for (Qt::MouseButton b : {Qt::LeftButton, Qt::RightButton}) {
        const QPoint start = window->pos();
        mouse(caption, QEvent::MouseButtonPress, QPoint(50, 5), b);
        EXPECT_TRUE(window->isDragging());
        mouse(caption, QEvent::MouseMove, QPoint(60, 8), b);  // travel (10, 3)
        EXPECT_EQ(window->pos(), start + QPoint(10, 3));
        // The label moved with the window: the pointer is back at (50, 5) in it.
        mouse(caption, QEvent::MouseMove, QPoint(45, 5), b);
        EXPECT_EQ(window->pos(), start + QPoint(5, 3));
        mouse(caption, QEvent::MouseButtonRelease, QPoint(52, 7), b);
        EXPECT_EQ(window->pos(), start + QPoint(7, 5));
        EXPECT_FALSE(window->isDragging());

        const QPoint after = window->pos();
        mouse(caption, QEvent::MouseMove, QPoint(90, 9), Qt::NoButton);
        EXPECT_EQ(window->pos(), after) << "no move after release";
    }
}

TEST_F(FrameTest, TheCornerGripResizesTheFramelessWindow) {
    window->show();
    auto* grip = window->findChild<QSizeGrip*>(QStringLiteral("sizeGrip"));
    ASSERT_NE(grip, nullptr);
    for (QSize size : {QSize(700, 400), QSize(607, 234)}) {
        window->resize(size);
        EXPECT_TRUE(grip->isVisible());
        EXPECT_EQ(grip->geometry().bottomRight(), QPoint(size.width() - 1, size.height() - 1));
        // It covers neither the website link nor the grid.
        EXPECT_FALSE(grip->geometry().intersects(label("website")->geometry()));
        EXPECT_FALSE(grip->geometry().intersects(control<QTreeView>("Results")->geometry()));
    }

    // Dragging it by (40, 30) makes the window that much larger, and the
    // layout follows. (The grip keeps the window on its screen: the test
    // screen is 800 x 600.)
    window->move(0, 0);
    const QSize before = window->size();
    const QPoint at = grip->rect().center();
    mouse(grip, QEvent::MouseButtonPress, at, Qt::LeftButton);
    mouse(grip, QEvent::MouseMove, at + QPoint(40, 30), Qt::LeftButton);
    mouse(grip, QEvent::MouseButtonRelease, at + QPoint(40, 30), Qt::LeftButton);
    QTest::qWait(0);
    EXPECT_EQ(window->size(), before + QSize(40, 30));
    expectLayout(window->width(), window->height());
}

TEST_F(FrameTest, CloseEndsTheCycleWithTheWindow) {
    window->show();
    window->pass = nullptr;
    window->cmdSwitch_Click();
    ASSERT_TRUE(settle(*window));
    ASSERT_TRUE(timer()->isActive());
    click(label("Close"));
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(timer()->isActive());
}

TEST_F(FrameTest, WebsiteOpensTheProductSiteOrSaysWhyNot) {
    click(label("website"));
    ASSERT_EQ(dialogs->urls.size(), 1u);
    EXPECT_EQ(dialogs->urls[0].toString(), "https://tavo.example.org/");
    EXPECT_TRUE(dialogs->messages.empty());

    dialogs->urlOpens = false;
    window->website_Click();
    ASSERT_EQ(dialogs->messages.size(), 1u);
    EXPECT_EQ(dialogs->messages[0].text, "Error launching website - tavo.example.org");
    EXPECT_EQ(dialogs->messages[0].caption, "Tavo");
    EXPECT_EQ(dialogs->messages[0].icon, Dialogs::Icon::Warning);
}

// --- Target computer menu ---

QAction* item(QMenu* menu, const char* name) {
    for (QAction* a : menu->actions())
        if (a->objectName() == name) return a;
    return nullptr;
}

TEST_F(FrameTest, ClickInTheFieldOffersTheMenuOnlyWhileStopped) {
    window->show();
    auto* menu = control<QMenu>("mnuComputer");
    click(field("txtComputer"));
    EXPECT_TRUE(menu->isVisible());
    menu->hide();

    window->pass = nullptr;
    window->cmdSwitch_Click();
    QTest::mouseClick(field("txtComputer"), Qt::LeftButton);
    EXPECT_FALSE(menu->isVisible());
    window->cmdSwitch_Click();

    // Typing still works after the menu.
    field("txtComputer")->setFocus();
    field("txtComputer")->clear();
    QTest::keyClicks(field("txtComputer"), "server9");
    EXPECT_EQ(field("txtComputer")->text(), "server9");
}

TEST_F(FrameTest, ThisComputerAndCustom) {
    auto* menu = control<QMenu>("mnuComputer");
    field("txtComputer")->setText("elsewhere");
    item(menu, "mnuComputerName")->trigger();
    EXPECT_EQ(field("txtComputer")->text(), "TESTPC");
    item(menu, "mnuCustomComputer")->trigger();
    EXPECT_EQ(field("txtComputer")->text(), "");
    {
        ScopedComputerName unset(nullptr);
        item(menu, "mnuComputerName")->trigger();
        EXPECT_FALSE(field("txtComputer")->text().isEmpty()) << "the host name stands in";
        EXPECT_NE(field("txtComputer")->text(), "TESTPC");
    }
}

TEST_F(FrameTest, PrimaryDnsFromTheFirstAdapterWithServers) {
    auto* menu = control<QMenu>("mnuComputer");
    backend->script(tavo::target::kDnsAdapterQuery)
        .add(FakeObject().with("Description", "loopback").withNull("DNSServerSearchOrder"))
        .add(FakeObject()
                 .with("Description", "eth0")
                 .withArray("DNSServerSearchOrder", {"192.0.2.10", "192.0.2.11"}));
    field("txtComputer")->setText("remotebox");
    item(menu, "mnuPrimaryDNS")->trigger();
    EXPECT_EQ(field("txtComputer")->text(), "192.0.2.10");
    // Always this computer, whatever the field named.
    EXPECT_EQ(backend->log->monikers, std::vector<std::string>{"winmgmts:\\\\TESTPC\\root\\CIMV2"});
    EXPECT_TRUE(dialogs->messages.empty());

    backend->clearScripts();
    backend->script(tavo::target::kDnsAdapterQuery)
        .add(FakeObject().withNull("DNSServerSearchOrder"));
    field("txtComputer")->setText("kept");
    item(menu, "mnuPrimaryDNS")->trigger();
    EXPECT_EQ(field("txtComputer")->text(), "kept");
    EXPECT_TRUE(dialogs->messages.empty());
}

TEST_F(FrameTest, PrimaryDnsFailureIsReportedAndTheFieldKept) {
    auto* menu = control<QMenu>("mnuComputer");
    backend->failConnect();
    field("txtComputer")->setText("kept");
    item(menu, "mnuPrimaryDNS")->trigger();
    EXPECT_EQ(field("txtComputer")->text(), "kept");
    ASSERT_EQ(dialogs->messages.size(), 1u);
    EXPECT_EQ(dialogs->messages[0].caption, "Tavo");
    EXPECT_TRUE(dialogs->messages[0].text.contains("0x800706BA"));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    // A list whose first entry cannot be read as text.
    backend->connectError.reset();
    backend->script(tavo::target::kDnsAdapterQuery)
        .add(FakeObject().with("DNSServerSearchOrder", Value::Array{Value(Value::Array{"x"})}));
    item(menu, "mnuPrimaryDNS")->trigger();
    EXPECT_EQ(field("txtComputer")->text(), "kept");
    EXPECT_EQ(dialogs->messages.size(), 2u);
}

}  // namespace
}  // namespace tavo::testing
