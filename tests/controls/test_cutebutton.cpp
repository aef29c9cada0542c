// The owner-drawn button: bevel pixels per state, the caption's placement,
// the disabled face, and the state table driven by real Qt input.
#include "support/RunEvents.h"
#include "controls/CuteBtn.h"
#include "controls/GdiDraw.h"
#include "runtime/Dialogs.h"

#include <QApplication>
#include <QWindow>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

constexpr TColor FaceColor = 0x001A479B;
constexpr TPixel FacePx = 0xFF9B471A;
constexpr TPixel HighlightPx = 0xFFFFFFFF; // clBtnHighlight
constexpr TPixel ShadowPx = 0xFFA0A0A0;    // clBtnShadow
constexpr int W = 107, H = 25;

QRect CaptionPixels(const QImage& image, TPixel face)
{
    QRect box;
    for (int y = 2; y < image.height() - 2; ++y)
        for (int x = 2; x < image.width() - 2; ++x)
            if (image.pixel(x, y) != face)
                box = box.united(QRect(x, y, 1, 1));
    return box;
}

struct ButtonFixture : ::testing::Test {
    QWidget form;
    TCuteButton* button = nullptr;
    QWidget* other = nullptr;
    int clicks = 0;
    std::vector<DialogRequest> dialogs;

    void SetUp() override
    {
        SetDialogResponder([this](const DialogRequest& r) {
            dialogs.push_back(r);
            return DialogAnswer{};
        });
        form.resize(300, 120);
        button = new TCuteButton(&form);
        button->SetBounds(10, 10, W, H);
        button->SetCaption(QStringLiteral("DownLoad"));
        button->SetColor(FaceColor);
        QFont f(QStringLiteral("IPAPGothic"));
        f.setPixelSize(12);
        button->SetFont(f);
        button->SetFontColor(0x00C1FDFC);
        button->OnClick = [this](TObject*) { ++clicks; };
        other = new QWidget(&form);
        other->setGeometry(150, 10, 50, 25);
        other->setFocusPolicy(Qt::StrongFocus);
    }
    void TearDown() override { SetDialogResponder(nullptr); }

    void ShowAndFocus()
    {
        form.show();
        QApplication::setActiveWindow(&form);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form, 5000));
        button->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(button->hasFocus());
    }
    // Closes the menu as soon as it is shown, remembering where it opened.
    QPoint* WatchMenu(QMenu& menu)
    {
        auto* where = new QPoint(-1, -1);
        QObject::connect(&menu, &QMenu::aboutToShow, &menu, [&menu, where] {
            QTimer::singleShot(0, &menu, [&menu, where] {
                *where = menu.pos();
                menu.close();
            });
        });
        return where;
    }
};

} // namespace

TEST_F(ButtonFixture, BevelRingsInEachState)
{
    // At rest only the inner raised bevel, on the outermost ring.
    QImage img = button->Render();
    EXPECT_EQ(img.pixel(0, 0), HighlightPx);
    EXPECT_EQ(img.pixel(W - 2, 0), HighlightPx);
    EXPECT_EQ(img.pixel(0, H - 2), HighlightPx);
    EXPECT_EQ(img.pixel(W - 1, 0), ShadowPx); // top-right corner takes the bottom colour
    EXPECT_EQ(img.pixel(0, H - 1), ShadowPx); // and so does bottom-left
    EXPECT_EQ(img.pixel(W - 1, H - 1), ShadowPx);
    EXPECT_EQ(img.pixel(1, 1), FacePx);

    button->SetBevelOuter(bvRaised); // two raised rings
    img = button->Render();
    EXPECT_EQ(img.pixel(0, 0), HighlightPx);
    EXPECT_EQ(img.pixel(1, 1), HighlightPx);
    EXPECT_EQ(img.pixel(W - 2, H - 2), ShadowPx);
    EXPECT_EQ(img.pixel(W - 2, 1), ShadowPx);
    EXPECT_EQ(img.pixel(2, 2), FacePx);

    button->SetBevelOuter(bvLowered); // outer ring sunk, inner still raised
    img = button->Render();
    EXPECT_EQ(img.pixel(0, 0), ShadowPx);
    EXPECT_EQ(img.pixel(W - 1, H - 1), HighlightPx);
    EXPECT_EQ(img.pixel(W - 1, 0), HighlightPx);
    EXPECT_EQ(img.pixel(1, 1), HighlightPx);
    EXPECT_EQ(img.pixel(W - 2, H - 2), ShadowPx);

    button->SetFlat(true); // no inner bevel
    button->SetBevelOuter(bvNone);
    img = button->Render();
    EXPECT_EQ(img.pixel(0, 0), FacePx);
    EXPECT_EQ(img.pixel(W - 1, H - 1), FacePx);
}

TEST_F(ButtonFixture, CaptionSinksTwoPixelsAndFollowsMargins)
{
    button->SetBevelOuter(bvRaised);
    const QRect up = CaptionPixels(button->Render(), FacePx);
    ASSERT_FALSE(up.isEmpty());
    button->SetBevelOuter(bvLowered);
    EXPECT_EQ(CaptionPixels(button->Render(), FacePx), up.translated(2, 2));

    button->SetBevelOuter(bvNone);
    button->SetMarginX(-5);
    EXPECT_EQ(button->MarginX(), -1);
    button->SetAlignment(taLeftJustify);
    const QRect left = CaptionPixels(button->Render(), FacePx);
    button->SetMarginX(10);
    EXPECT_EQ(CaptionPixels(button->Render(), FacePx), left.translated(10, 0));
    button->SetAlignment(taCenter);
    const QRect centred = CaptionPixels(button->Render(), FacePx);
    button->SetMarginX(-1);
    EXPECT_EQ(CaptionPixels(button->Render(), FacePx), centred);
    EXPECT_GT(centred.left(), left.left() + 10);

    button->SetLayout(tlTop);
    const QRect top = CaptionPixels(button->Render(), FacePx);
    button->SetMarginY(3);
    EXPECT_EQ(CaptionPixels(button->Render(), FacePx), top.translated(0, 3));
}

TEST_F(ButtonFixture, DisabledFaceAndEmbossedCaption)
{
    button->setEnabled(false);
    QImage img = button->Render();
    EXPECT_EQ(img.pixel(W / 2, 3), FacePx);
    bool shadow = false, highlight = false;
    for (int y = 2; y < H - 2; ++y)
        for (int x = 2; x < W - 2; ++x) {
            shadow |= img.pixel(x, y) == ShadowPx;
            highlight |= img.pixel(x, y) == HighlightPx;
        }
    EXPECT_TRUE(shadow && highlight);

    button->SetUseDisabledColor(true);
    img = button->Render();
    EXPECT_EQ(img.pixel(W / 2, 3), 0xFF808080u);
    button->setEnabled(true);
    EXPECT_EQ(button->Render().pixel(W / 2, 3), FacePx);
}

TEST_F(ButtonFixture, PointerAndFocusFollowTheTable)
{
    ShowAndFocus();
    EXPECT_EQ(button->BevelOuter(), bvRaised); // focused with TabFocusUp
    QTest::mouseMove(&form, QPoint(250, 100));
    EXPECT_EQ(button->BevelOuter(), bvRaised); // and stays so when the pointer leaves
    button->SetShowFocusRect(true);
    const QImage focused = button->Render();
    other->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(button->BevelOuter(), bvNone);
    EXPECT_NE(button->Render(), focused);

    int entered = 0, left = 0;
    button->OnMouseEnter = [&](TObject*, TShiftState, int, int) { ++entered; };
    button->OnMouseLeave = [&](TObject*, TShiftState, int, int) { ++left; };
    QTest::mouseMove(button, QPoint(20, 10));
    EXPECT_EQ(button->BevelOuter(), bvRaised);
    QTest::mouseMove(&form, QPoint(250, 100));
    EXPECT_EQ(button->BevelOuter(), bvNone);
    EXPECT_EQ(entered, 1);
    EXPECT_EQ(left, 1);

    // Held down, dragged out and back in: flat outside, sunk inside again.
    button->SetTabFocusUp(false);
    QWindow* win = form.windowHandle();
    QTest::mousePress(win, Qt::LeftButton, {}, QPoint(30, 20));
    EXPECT_EQ(button->BevelOuter(), bvLowered);
    QTest::mouseMove(win, QPoint(250, 100));
    EXPECT_EQ(button->BevelOuter(), bvNone);
    QTest::mouseMove(win, QPoint(30, 20));
    EXPECT_EQ(button->BevelOuter(), bvLowered);
    QTest::mouseRelease(win, Qt::LeftButton, {}, QPoint(30, 20));
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(button->BevelOuter(), bvRaised);
}

TEST_F(ButtonFixture, ClicksFromMouseAndKeyboard)
{
    ShowAndFocus();
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(button->BevelOuter(), bvRaised);

    // Pressed inside, released outside: no click.
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(button->BevelOuter(), bvLowered);
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(200, 10));
    EXPECT_EQ(clicks, 1);
    QTest::mouseClick(button, Qt::RightButton, {}, QPoint(20, 10));
    EXPECT_EQ(clicks, 1);

    // Space clicks on its release, not on its press.
    QTest::keyPress(button, Qt::Key_Space);
    EXPECT_EQ(button->BevelOuter(), bvLowered);
    EXPECT_EQ(clicks, 1);
    QTest::keyRelease(button, Qt::Key_Space);
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(button->BevelOuter(), bvRaised);

    // Space, then another key, then the space's release: no click.
    QTest::keyPress(button, Qt::Key_Space);
    QTest::keyClick(button, Qt::Key_A);
    EXPECT_FALSE(button->SpaceDown());
    QTest::keyRelease(button, Qt::Key_Space);
    EXPECT_EQ(clicks, 2);

    QTest::keyClick(button, Qt::Key_Return);
    EXPECT_EQ(clicks, 3);

    // The key handler sees every key first, and may swallow it.
    button->OnKeyDown = [](TObject*, WORD& key, TShiftState) {
        if (key == VK_RETURN)
            key = 0;
    };
    QTest::keyClick(button, Qt::Key_Return);
    EXPECT_EQ(clicks, 3);

    // The accelerator clicks at once.
    button->SetCaption(QStringLiteral("&Go"));
    QTest::keyClick(&form, Qt::Key_G, Qt::AltModifier);
    EXPECT_EQ(clicks, 4);
    button->setEnabled(false);
    QTest::keyClick(&form, Qt::Key_G, Qt::AltModifier);
    EXPECT_EQ(clicks, 4);
}

TEST_F(ButtonFixture, EgnoreContClickSwallowsClicksWhileTheHandlerRuns)
{
    ShowAndFocus();
    button->SetEgnoreContClick(true);
    int nested = 0;
    button->OnClick = [&](TObject*) {
        ++clicks;
        if (clicks == 1) {
            button->Click(); // a click while busy
            // and one from the queue, handled while the button pumps it
            QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(20, 10));
            QCoreApplication::postEvent(button, new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, {}));
            ++nested;
        }
    };
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(clicks, 1);
    ASSERT_TRUE(button->OnClick);
    QTest::keyClick(button, Qt::Key_Return);
    EXPECT_EQ(clicks, 2);

    // A handler that fails: the standard error box, and the button still works.
    button->OnClick = [&](TObject*) {
        ++clicks;
        throw std::runtime_error("boom");
    };
    QTest::keyClick(button, Qt::Key_Return);
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].kind, DialogRequest::Error);
    QTest::keyClick(button, Qt::Key_Return);
    EXPECT_EQ(clicks, 4);
}

TEST_F(ButtonFixture, DropDownMenuAtOnceAndDelayed)
{
    ShowAndFocus();
    QMenu menu;
    menu.addAction(QStringLiteral("one"));
    std::unique_ptr<QPoint> where(WatchMenu(menu));
    button->SetDropDownMenu(&menu);

    // Delay 0: a left press opens the menu below the button, and no click
    // follows for that press.
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(*where, button->mapToGlobal(QPoint(0, H)));
    EXPECT_FALSE(button->DroppingDown());
    EXPECT_EQ(button->BevelOuter(), bvRaised);
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(clicks, 0);

    // Enter opens it too; so does space, whose release then clicks nothing.
    *where = QPoint(-1, -1);
    QTest::keyClick(button, Qt::Key_Return);
    EXPECT_NE(*where, QPoint(-1, -1));
    *where = QPoint(-1, -1);
    QTest::keyPress(button, Qt::Key_Space);
    EXPECT_NE(*where, QPoint(-1, -1));
    EXPECT_FALSE(button->SpaceDown());
    QTest::keyRelease(button, Qt::Key_Space);
    EXPECT_EQ(clicks, 0);

    // Delayed: Enter clicks instead; a release before the delay clicks and
    // cancels the pending drop-down; a held press opens the menu.
    button->SetDropDownDelay(300);
    *where = QPoint(-1, -1);
    QTest::keyClick(button, Qt::Key_Return);
    EXPECT_EQ(clicks, 1);
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_NE(button->DropDownTimer(), nullptr);
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(button->DropDownTimer(), nullptr);
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(*where, QPoint(-1, -1));

    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(20, 10));
    ASSERT_TRUE(testsupport::RunEventsUntil([&] { return *where != QPoint(-1, -1); }));
    EXPECT_EQ(*where, button->mapToGlobal(QPoint(0, H)));
    EXPECT_EQ(button->DropDownTimer(), nullptr);
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(20, 10)); // the menu had taken it
    EXPECT_EQ(clicks, 2);
}
