#include <malloc.h>

#include <QImage>
#include <QPixmap>

#include "main_fixture.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAVO_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TAVO_ASAN 1
#endif

#ifdef TAVO_ASAN
// From the sanitizer's runtime; declared here because GCC ships no header for it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace tavo::testing {
namespace {

// Bytes in use on the heap now, from the sanitizer's allocator where it
// replaces malloc's.
std::size_t heapInUse() {
#ifdef TAVO_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

using SwitchMemoryTest = MainTest;

// Each press once cost the heap about 10 KiB for good: the button's palette
// was made anew, and the style cached its pixmaps under every new palette.
TEST_F(SwitchMemoryTest, RunAndStopPressesLeaveTheHeapFlat) {
    chooseCategory("Processes");
    window->show();
    QPushButton* cmdSwitch = button("cmdSwitch");
    const auto press = [&] {
        cmdSwitch->click();
        // Painted as the user would see it, so the style draws (and caches) it.
        (void)cmdSwitch->grab();
        // A real window takes in what its passes post; so does this one.
        QApplication::processEvents();
        window->calls.clear();
    };
    for (int i = 0; i < 200; ++i) press();
    ASSERT_EQ(cmdSwitch->text(), "RUN");
    const std::size_t before = heapInUse();
    for (int i = 0; i < 1000; ++i) press();
    const std::size_t after = heapInUse();
    const std::ptrdiff_t grown =
        static_cast<std::ptrdiff_t>(after) - static_cast<std::ptrdiff_t>(before);
    EXPECT_LT(grown, 256 * 1024) << "the heap grew " << grown << " bytes over 1,000 presses";
}

// The colours themselves: green while stopped (RUN), red while running.
TEST_F(SwitchMemoryTest, TheSwitchIsGreenForRunAndRedForStop) {
    chooseCategory("Processes");
    window->show();
    QPushButton* cmdSwitch = button("cmdSwitch");
    const auto tint = [&] {
        const QImage image = cmdSwitch->grab().toImage();
        const QColor c = image.pixelColor(image.width() / 8, image.height() / 2);
        return c.green() - c.red();
    };
    EXPECT_GT(tint(), 20);
    cmdSwitch->click();
    ASSERT_EQ(cmdSwitch->text(), "STOP");
    EXPECT_LT(tint(), -20);
    cmdSwitch->click();
    EXPECT_GT(tint(), 20);
}

}  // namespace
}  // namespace tavo::testing
