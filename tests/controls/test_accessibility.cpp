// What the button and the gauge tell assistive technology, through
// QAccessible in process: roles, names, states, the Press action, values and
// the events that announce their changes.
#include "support/AccessibleEvents.h"
#include "controls/CuteBtn.h"
#include "controls/Gauges.h"
#include "runtime/Dialogs.h"

#include <QAccessible>
#include <QApplication>
#include <QDeadlineTimer>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using testsupport::AccessibleEvent;
using testsupport::AccessibleEvents;
using testsupport::Accessible;
using testsupport::RunEventsUntil;

namespace {

struct Form : ::testing::Test {
    QWidget form;
    std::vector<DialogRequest> dialogs;
    void SetUp() override
    {
        SetDialogResponder([this](const DialogRequest& r) {
            dialogs.push_back(r);
            return DialogAnswer{};
        });
        form.resize(300, 200);
    }
    void TearDown() override { SetDialogResponder(nullptr); }
    TCuteButton* Button(const QString& caption, QRect where = QRect(10, 10, 107, 25))
    {
        auto* b = new TCuteButton(&form);
        b->SetBounds(where.x(), where.y(), where.width(), where.height());
        b->SetCaption(caption);
        return b;
    }
    void ShowActive()
    {
        form.show();
        QApplication::setActiveWindow(&form);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form, 5000));
    }
};

using ButtonAccessibility = Form;
using GaugeAccessibility = Form;

TEST_F(ButtonAccessibility, PushButtonNamedByItsCaptionWithoutAcceleratorMarks)
{
    TCuteButton* plain = Button(QStringLiteral("DownLoad"));
    TCuteButton* marked = Button(QStringLiteral("&Down && &Load"), QRect(10, 40, 107, 25));
    TCuteButton* japanese = Button(QStringLiteral("閉じる(&C)"), QRect(10, 70, 107, 25));
    for (TCuteButton* b : {plain, marked, japanese}) {
        QAccessibleInterface* iface = Accessible(b);
        ASSERT_NE(iface, nullptr);
        EXPECT_EQ(iface->role(), QAccessible::Button);
        EXPECT_EQ(iface->object(), b);
        EXPECT_EQ(iface->parent()->object(), &form);
    }
    EXPECT_EQ(Accessible(plain)->text(QAccessible::Name), QStringLiteral("DownLoad"));
    EXPECT_EQ(Accessible(marked)->text(QAccessible::Name), QStringLiteral("Down & Load"));
    EXPECT_EQ(Accessible(japanese)->text(QAccessible::Name), QStringLiteral("閉じる(C)"));
    EXPECT_EQ(Accessible(plain)->text(QAccessible::Accelerator), QString());
    EXPECT_EQ(Accessible(japanese)->text(QAccessible::Accelerator), QStringLiteral("Alt+C"));
    // A name set for assistive technology wins over the caption.
    plain->setAccessibleName(QStringLiteral("ダウンロード"));
    EXPECT_EQ(Accessible(plain)->text(QAccessible::Name), QStringLiteral("ダウンロード"));
    // The caption's trailing "&" marks nothing.
    EXPECT_EQ(TCuteButton::CaptionText(QStringLiteral("A&")), QStringLiteral("A"));
    EXPECT_EQ(TCuteButton::CaptionText(QStringLiteral("&&&&")), QStringLiteral("&&"));
}

TEST_F(ButtonAccessibility, CaptionChangesAreToldAsNameChanges)
{
    TCuteButton* b = Button(QStringLiteral("Close"));
    ShowActive();
    AccessibleEvents events;
    b->SetCaption(QStringLiteral("Cansel"));
    b->SetCaption(QStringLiteral("Cansel")); // no change, nothing told
    b->SetCaption(QStringLiteral("&Close"));
    const auto names = events.Of(b, QAccessible::NameChanged);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0].name, QStringLiteral("Cansel"));
    EXPECT_EQ(names[1].name, QStringLiteral("Close"));
    // With a name of its own, the caption no longer names it.
    b->setAccessibleName(QStringLiteral("終わる"));
    events.Clear();
    b->SetCaption(QStringLiteral("Other"));
    EXPECT_TRUE(events.Of(b, QAccessible::NameChanged).empty());
}

TEST_F(ButtonAccessibility, StateSaysFocusablePressedFocusedAndUnavailable)
{
    TCuteButton* b = Button(QStringLiteral("DownLoad"));
    TCuteButton* other = Button(QStringLiteral("Other"), QRect(150, 10, 75, 25));
    ShowActive();
    other->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(RunEventsUntil([&] { return other->hasFocus(); }));
    AccessibleEvents events;
    QAccessible::State s = Accessible(b)->state();
    EXPECT_TRUE(s.focusable);
    EXPECT_FALSE(s.focused);
    EXPECT_FALSE(s.pressed);
    EXPECT_FALSE(s.disabled);
    EXPECT_FALSE(s.invisible || s.offscreen);

    b->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(RunEventsUntil([&] { return b->hasFocus(); }));
    EXPECT_TRUE(Accessible(b)->state().focused);
    EXPECT_FALSE(events.Of(b, QAccessible::Focus).empty());

    // The space bar holds it down; its release clicks and raises it again.
    QTest::keyPress(b, Qt::Key_Space);
    EXPECT_TRUE(Accessible(b)->state().pressed);
    QTest::keyRelease(b, Qt::Key_Space);
    EXPECT_FALSE(Accessible(b)->state().pressed);
    const auto presses = events.Of(b, QAccessible::StateChanged);
    ASSERT_EQ(presses.size(), 2u);
    for (const AccessibleEvent& e : presses)
        EXPECT_TRUE(e.changed.pressed);
    EXPECT_TRUE(presses[0].state.pressed);
    EXPECT_FALSE(presses[1].state.pressed);

    // A mouse press lowers it too; moving the focus away is told.
    QTest::mousePress(b, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    EXPECT_TRUE(Accessible(b)->state().pressed);
    QTest::mouseRelease(b, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    EXPECT_FALSE(Accessible(b)->state().pressed);
    other->setFocus(Qt::TabFocusReason);
    EXPECT_FALSE(Accessible(b)->state().focused);

    events.Clear();
    b->setEnabled(false);
    EXPECT_TRUE(Accessible(b)->state().disabled);
    const auto disabled = events.Of(b, QAccessible::StateChanged);
    ASSERT_FALSE(disabled.empty());
    EXPECT_TRUE(disabled.back().changed.disabled);
    // A button that takes no focus says so.
    b->setFocusPolicy(Qt::NoFocus);
    EXPECT_FALSE(Accessible(b)->state().focusable);
}

TEST_F(ButtonAccessibility, PressActionClicksThroughTheEventLoopAsAClickDoes)
{
    TCuteButton* b = Button(QStringLiteral("DownLoad"));
    int clicks = 0;
    std::vector<TPanelBevel> bevelsInClick;
    b->OnClick = [&](TObject* sender) {
        EXPECT_EQ(sender, b);
        bevelsInClick.push_back(b->BevelOuter());
        ++clicks;
    };
    ShowActive();
    QAccessibleActionInterface* actions = Accessible(b)->actionInterface();
    ASSERT_NE(actions, nullptr);
    ASSERT_FALSE(actions->actionNames().isEmpty());
    EXPECT_EQ(actions->actionNames().first(), QAccessibleActionInterface::pressAction());

    // The caller (a screen reader over D-Bus) is answered first; the click
    // follows from the event loop, pressed as Enter presses it.
    actions->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(clicks, 0);
    ASSERT_TRUE(RunEventsUntil([&] { return clicks == 1; }));
    EXPECT_EQ(bevelsInClick, std::vector<TPanelBevel>{bvLowered});
    EXPECT_NE(b->BevelOuter(), bvLowered);

    // What no mouse can click, the action does not click either.
    b->setEnabled(false);
    actions->doAction(QAccessibleActionInterface::pressAction());
    b->setEnabled(true);
    b->hide();
    actions->doAction(QAccessibleActionInterface::pressAction());
    b->show();
    TCuteButton* cover = Button(QStringLiteral("Cover"));
    cover->show();
    actions->doAction(QAccessibleActionInterface::pressAction());
    cover->hide();
    // One more that does click, to know the others have had their turn.
    actions->doAction(QAccessibleActionInterface::pressAction());
    ASSERT_TRUE(RunEventsUntil([&] { return clicks == 2; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(clicks, 2);

    // A button gone before its turn comes is not touched.
    actions->doAction(QAccessibleActionInterface::pressAction());
    delete b;
    QCoreApplication::processEvents();
    EXPECT_EQ(clicks, 2);
    EXPECT_TRUE(dialogs.empty());
}

TEST_F(ButtonAccessibility, ButtonUnderAWholeSiblingIsNotShowingWhileCovered)
{
    TCuteButton* download = Button(QStringLiteral("DownLoad"), QRect(232, 116, 107, 25));
    TCuteButton* close = Button(QStringLiteral("Close"), QRect(232, 116, 107, 25));
    TCuteButton* beside = Button(QStringLiteral("Beside"), QRect(10, 116, 107, 25));
    close->hide();
    form.resize(350, 250);
    ShowActive();
    AccessibleEvents events;
    EXPECT_FALSE(download->Covered());
    EXPECT_FALSE(Accessible(download)->state().offscreen);

    close->show();
    EXPECT_TRUE(download->Covered());
    EXPECT_TRUE(Accessible(download)->state().offscreen);
    EXPECT_FALSE(Accessible(close)->state().offscreen);
    EXPECT_FALSE(Accessible(beside)->state().offscreen);
    ASSERT_EQ(events.Of(download, QAccessible::ObjectHide).size(), 1u);
    EXPECT_TRUE(events.Of(beside).empty());

    close->hide();
    EXPECT_FALSE(download->Covered());
    EXPECT_FALSE(Accessible(download)->state().offscreen);
    ASSERT_EQ(events.Of(download, QAccessible::ObjectShow).size(), 1u);

    // Overlapping in part is not covering; any widget laid whole over it is.
    close->setGeometry(250, 116, 107, 25);
    close->show();
    EXPECT_FALSE(download->Covered());
    close->hide();
    auto* panel = new QWidget(&form);
    panel->setGeometry(200, 100, 150, 60);
    panel->show();
    EXPECT_TRUE(download->Covered());
    // A widget below it does not cover it.
    panel->stackUnder(download);
    EXPECT_FALSE(download->Covered());
}

TEST_F(GaugeAccessibility, ProgressBarWithItsValuesInEveryKind)
{
    auto* gauge = new TGauge(&form);
    gauge->SetBounds(24, 200, 169, 28);
    gauge->SetProgress(45);
    for (TGaugeKind kind : {gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle}) {
        gauge->SetKind(kind);
        QAccessibleInterface* iface = Accessible(gauge);
        ASSERT_NE(iface, nullptr);
        EXPECT_EQ(iface->role(), QAccessible::ProgressBar) << kind;
        QAccessibleValueInterface* value = iface->valueInterface();
        ASSERT_NE(value, nullptr) << kind;
        EXPECT_EQ(value->minimumValue().toInt(), 0);
        EXPECT_EQ(value->maximumValue().toInt(), 100);
        EXPECT_EQ(value->currentValue().toInt(), 45);
        EXPECT_EQ(iface->text(QAccessible::Value), QStringLiteral("45%"));
        EXPECT_TRUE(iface->state().readOnly);
        EXPECT_FALSE(iface->state().focusable);
    }
    // Another range: the values as they stand, the percentage as shown.
    gauge->SetMaxValue(1000);
    gauge->SetMinValue(200);
    gauge->SetProgress(431);
    QAccessibleValueInterface* value = Accessible(gauge)->valueInterface();
    EXPECT_EQ(value->minimumValue().toInt(), 200);
    EXPECT_EQ(value->maximumValue().toInt(), 1000);
    EXPECT_EQ(value->currentValue().toInt(), 431);
    EXPECT_EQ(Accessible(gauge)->text(QAccessible::Value), QStringLiteral("28%"));
    // It shows progress and takes none.
    value->setCurrentValue(900);
    EXPECT_EQ(gauge->Progress(), 431);
}

TEST_F(GaugeAccessibility, ValueChangesAreToldTwiceASecondAtMostTheLastOneAlways)
{
    auto* gauge = new TGauge(&form);
    gauge->SetBounds(24, 200, 169, 28);
    ShowActive();
    QTest::qWait(TGauge::ValueNoticeInterval); // what the construction told lies behind
    AccessibleEvents events;
    gauge->SetProgress(10);
    auto values = events.Of(gauge, QAccessible::ValueChanged);
    ASSERT_EQ(values.size(), 1u); // the first at once
    EXPECT_EQ(values[0].value.toInt(), 10);
    for (int p = 11; p <= 50; ++p)
        gauge->SetProgress(p);
    EXPECT_EQ(events.Of(gauge, QAccessible::ValueChanged).size(), 1u);
    ASSERT_TRUE(RunEventsUntil([&] { return events.Of(gauge, QAccessible::ValueChanged).size() == 2; }));
    values = events.Of(gauge, QAccessible::ValueChanged);
    EXPECT_EQ(values[1].value.toInt(), 50); // the latest, not the ones between
    EXPECT_GE(values[1].at - values[0].at, TGauge::ValueNoticeInterval);
    // A clamped value that stays where it was tells nothing.
    gauge->SetProgress(150);
    gauge->SetProgress(100);
    ASSERT_TRUE(RunEventsUntil([&] { return events.Of(gauge, QAccessible::ValueChanged).size() == 3; }));
    gauge->SetProgress(120);
    QTest::qWait(TGauge::ValueNoticeInterval + 100);
    values = events.Of(gauge, QAccessible::ValueChanged);
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[2].value.toInt(), 100);
}

} // namespace
