// The label as assistive technology sees it: its name and buddy, the status
// line that is heard wherever the user is, the progress text told at most
// once per interval, the label that can be clicked; and the rate limiter
// under the last two.
#include "runtime/Label.h"
#include "runtime/RateLimiter.h"
#include "support/AccessibleEvents.h"

#include <QAccessible>
#include <QApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

using testsupport::AccessibleEvent;
using testsupport::AccessibleEvents;
using testsupport::Accessible;
using testsupport::RunEventsUntil;

namespace {

// Counts left-button releases on a widget, as a click handler sees them.
struct Clicks : QObject {
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            ++count;
        return false;
    }
};

TEST(LabelAccessibility, StaticTextNamedByItsCaptionThatLabelsItsBuddy)
{
    QWidget form;
    auto* label = new TLabel(QStringLiteral("ボタンの文字"), &form);
    auto* edit = new QLineEdit(&form);
    QAccessibleInterface* iface = Accessible(label);
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::StaticText);
    EXPECT_EQ(iface->text(QAccessible::Name), QStringLiteral("ボタンの文字"));
    EXPECT_TRUE(iface->state().readOnly);
    EXPECT_FALSE(iface->state().focusable);
    EXPECT_TRUE(iface->relations(QAccessible::Labelled).isEmpty());

    label->setBuddy(edit);
    const auto labelled = iface->relations(QAccessible::Labelled);
    ASSERT_EQ(labelled.size(), 1);
    EXPECT_EQ(labelled[0].first->object(), edit);
    // The field is named by it, and knows its label.
    EXPECT_EQ(Accessible(edit)->text(QAccessible::Name), QStringLiteral("ボタンの文字"));
    const auto labels = Accessible(edit)->relations(QAccessible::Label);
    ASSERT_FALSE(labels.isEmpty());
    EXPECT_EQ(labels[0].first->object(), label);

    label->SetCaption(QStringLiteral("別の名前"));
    EXPECT_EQ(iface->text(QAccessible::Name), QStringLiteral("別の名前"));
    label->setAccessibleName(QStringLiteral("名前"));
    EXPECT_EQ(iface->text(QAccessible::Name), QStringLiteral("名前"));
}

TEST(LabelAccessibility, StatusLineIsHeardAtEachChangeOfItsCaption)
{
    QWidget form;
    auto* status = new TLabel(QStringLiteral("ダウンロード状況"), &form);
    auto* other = new TLabel(QStringLiteral("other"), &form);
    status->SetLiveStatus(true);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_EQ(Accessible(status)->role(), QAccessible::Notification);
    EXPECT_EQ(Accessible(other)->role(), QAccessible::StaticText);

    AccessibleEvents events;
    status->SetCaption(QStringLiteral("受信中"));
    status->SetCaption(QStringLiteral("受信中")); // unchanged: nothing to hear
    status->SetCaption(QStringLiteral("終了"));
    other->SetCaption(QStringLiteral("changed"));
    // Each change: the new name, then the notice that it is showing, which
    // screen readers speak for a notification.
    std::vector<std::pair<QAccessible::Event, QString>> told;
    for (const AccessibleEvent& e : events.Of(status))
        told.emplace_back(e.type, e.name);
    const std::vector<std::pair<QAccessible::Event, QString>> expected = {
        {QAccessible::NameChanged, QStringLiteral("受信中")},
        {QAccessible::ObjectShow, QStringLiteral("受信中")},
        {QAccessible::NameChanged, QStringLiteral("終了")},
        {QAccessible::ObjectShow, QStringLiteral("終了")}};
    EXPECT_EQ(told, expected);
    // An ordinary label's change is a name change only.
    EXPECT_TRUE(events.Of(other, QAccessible::ObjectShow).empty());
    EXPECT_EQ(events.Of(other, QAccessible::NameChanged).size(), 1u);

    // Out of sight, nothing is announced as showing.
    form.hide();
    events.Clear();
    status->SetCaption(QStringLiteral("中断しました"));
    EXPECT_TRUE(events.Of(status, QAccessible::ObjectShow).empty());
}

TEST(LabelAccessibility, NameIntervalTellsAFastCaptionOncePerIntervalTheLastAlways)
{
    QWidget form;
    auto* progress = new TLabel(QString(), &form);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    constexpr int Interval = 300;
    progress->SetAccessibleNameInterval(Interval);
    EXPECT_EQ(progress->AccessibleNameInterval(), Interval);
    AccessibleEvents events;
    progress->SetCaption(QStringLiteral("1Kbyte/100Kbyte(1%)"));
    ASSERT_TRUE(RunEventsUntil([&] { return !events.Of(progress, QAccessible::NameChanged).empty(); }));
    EXPECT_EQ(Accessible(progress)->text(QAccessible::Name), QStringLiteral("1Kbyte/100Kbyte(1%)"));
    QTest::qWait(Interval); // the first one lies an interval back
    events.Clear();

    progress->SetCaption(QStringLiteral("2Kbyte/100Kbyte(2%)")); // at once
    for (int k = 3; k <= 40; ++k)
        progress->SetCaption(QString::number(k) + QStringLiteral("Kbyte/100Kbyte(") + QString::number(k) + QStringLiteral("%)"));
    // The name lags the caption until the interval is over.
    EXPECT_EQ(progress->text(), QStringLiteral("40Kbyte/100Kbyte(40%)"));
    EXPECT_EQ(Accessible(progress)->text(QAccessible::Name), QStringLiteral("2Kbyte/100Kbyte(2%)"));
    ASSERT_TRUE(RunEventsUntil([&] { return events.Of(progress, QAccessible::NameChanged).size() == 2; }));
    const auto told = events.Of(progress, QAccessible::NameChanged);
    EXPECT_EQ(told[0].name, QStringLiteral("2Kbyte/100Kbyte(2%)"));
    EXPECT_EQ(told[1].name, QStringLiteral("40Kbyte/100Kbyte(40%)"));
    EXPECT_GE(told[1].at - told[0].at, Interval);
    QTest::qWait(Interval + 100);
    EXPECT_EQ(events.Of(progress, QAccessible::NameChanged).size(), 2u);

    // Without the interval the name follows every change again.
    progress->SetAccessibleNameInterval(0);
    events.Clear();
    progress->SetCaption(QStringLiteral("a"));
    progress->SetCaption(QStringLiteral("b"));
    EXPECT_EQ(events.Of(progress, QAccessible::NameChanged).size(), 2u);
    EXPECT_EQ(Accessible(progress)->text(QAccessible::Name), QStringLiteral("b"));
}

TEST(LabelAccessibility, LabelThatTakesTheFocusIsALinkClickedByKeysAndPress)
{
    QWidget form;
    auto* name = new TLabel(QStringLiteral("Fetchlet team"), &form);
    auto* edit = new QLineEdit(&form);
    edit->move(0, 40);
    Clicks clicks;
    name->installEventFilter(&clicks);
    QAccessibleInterface* iface = Accessible(name);
    EXPECT_EQ(iface->role(), QAccessible::StaticText);
    EXPECT_FALSE(iface->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));

    name->setFocusPolicy(Qt::StrongFocus);
    EXPECT_EQ(iface->role(), QAccessible::Link);
    EXPECT_TRUE(iface->state().focusable);
    EXPECT_FALSE(iface->state().readOnly);
    form.show();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    const QImage unfocused = name->grab().toImage();
    name->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(RunEventsUntil([&] { return name->hasFocus(); }));
    EXPECT_TRUE(iface->state().focused);
    // The caption looks the same with the focus.
    EXPECT_EQ(name->grab().toImage(), unfocused);

    QTest::keyClick(name, Qt::Key_Return);
    QTest::keyClick(name, Qt::Key_Space);
    QTest::keyClick(name, Qt::Key_Enter);
    EXPECT_EQ(clicks.count, 3);
    QTest::keyClick(name, Qt::Key_A); // other keys click nothing
    EXPECT_EQ(clicks.count, 3);

    // Press comes through the event loop, as a click does.
    iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(clicks.count, 3);
    ASSERT_TRUE(RunEventsUntil([&] { return clicks.count == 4; }));
    name->setEnabled(false);
    iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCoreApplication::processEvents();
    EXPECT_EQ(clicks.count, 4);
}

TEST(RateLimiter, RunsAtOnceThenOncePerIntervalForAllThatCameMeanwhile)
{
    std::vector<qint64> runs;
    QElapsedTimer clock;
    clock.start();
    constexpr int Interval = 200;
    TRateLimiter limiter(Interval, [&] { runs.push_back(clock.elapsed()); });
    limiter.Request();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_FALSE(limiter.Pending());
    for (int i = 0; i < 10; ++i)
        limiter.Request();
    EXPECT_EQ(runs.size(), 1u);
    EXPECT_TRUE(limiter.Pending());
    ASSERT_TRUE(RunEventsUntil([&] { return runs.size() == 2; }));
    EXPECT_GE(runs[1] - runs[0], Interval);
    QTest::qWait(Interval + 50);
    EXPECT_EQ(runs.size(), 2u);

    // Long after the last run, a request runs at once again.
    limiter.Request();
    EXPECT_EQ(runs.size(), 3u);
    // A cancelled run never comes.
    limiter.Request();
    ASSERT_TRUE(limiter.Pending());
    limiter.Cancel();
    QTest::qWait(Interval + 50);
    EXPECT_EQ(runs.size(), 3u);
    // A limiter that goes away takes its pending run with it.
    {
        TRateLimiter gone(Interval, [&] { runs.push_back(-1); });
        gone.Request();
        gone.Request();
    }
    QTest::qWait(Interval + 50);
    ASSERT_EQ(runs.size(), 4u); // its first at once, the pending one never
    EXPECT_EQ(runs.back(), -1);
}

} // namespace
