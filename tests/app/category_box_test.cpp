#include <QComboBox>
#include <QFontMetrics>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>

#include "collectors/report_definition.h"
#include "main_fixture.h"

namespace tavo::testing {
namespace {

using CategoryBoxTest = MainTest;

// With DejaVu Sans (the fallback font) the box once showed "etwork Adapters":
// the editable box scrolled its text to the cursor at the end.
TEST_F(CategoryBoxTest, EveryCategoryShowsFromItsFirstLetter) {
    window->show();
    auto* box = control<QComboBox>("cmbFunction");
    QLineEdit* edit = box->lineEdit();
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(box->currentText(), "Network Adapters");
    EXPECT_EQ(edit->cursorPosition(), 0) << "the start-up choice is shown from its end";
    for (const std::string_view category : reportCategories()) {
        const QString text = QString::fromUtf8(category.data(), qsizetype(category.size()));
        box->setCurrentIndex(box->findText(text));
        QApplication::processEvents();
        const QFontMetrics fm(edit->font());
        QStyleOptionFrame option;
        option.initFrom(edit);
        const QRect inside = edit->style()
                                 ->subElementRect(QStyle::SE_LineEditContents, &option, edit)
                                 .marginsRemoved(edit->textMargins());
        // Shown from the left: the first letter is in view.
        EXPECT_EQ(edit->cursorPosition() == 0 || fm.horizontalAdvance(text) <= inside.width(), true)
            << text.toStdString();
    }
}

}  // namespace
}  // namespace tavo::testing
