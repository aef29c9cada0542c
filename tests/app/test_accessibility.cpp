// The windows as assistive technology sees them, in process: the main
// window a frame read in reading order, every control that takes the focus
// named with a role of its own, Tab through every control in the visible
// order, and a download whose status changes are heard while its progress
// is told a few times a second.
#include "AppFixture.h"
#include "DownloadSupport.h"

#include "Servers.h"
#include "app/V_Unit.h"
#include "support/AccessibleEvents.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <map>

using testsupport::AccessibleEvent;
using testsupport::AccessibleEvents;
using testsupport::Accessible;
using testsupport::RunEventsUntil;
using testsupport::NginxServer;
using namespace downloadsupport;

namespace {

// The controls of a window that take the focus with Tab, in the order of
// the focus chain (an editable combo box's own field counts as the box).
std::vector<QWidget*> FocusableControls(QWidget* window)
{
    std::vector<QWidget*> controls;
    for (QWidget* w = window->nextInFocusChain(); w != window; w = w->nextInFocusChain()) {
        if (!(w->focusPolicy() & Qt::TabFocus) || qobject_cast<QComboBox*>(w->parentWidget()))
            continue;
        controls.push_back(w);
    }
    return controls;
}

// What assistive technology names a control by: its own name, or, for a
// box whose name is its value, its label.
QString SpokenName(QWidget* control)
{
    QAccessibleInterface* iface = Accessible(control);
    if (qobject_cast<QComboBox*>(control)) {
        const auto labels = iface->relations(QAccessible::Label);
        return labels.isEmpty() ? QString() : labels.first().first->text(QAccessible::Name);
    }
    return iface->text(QAccessible::Name);
}

bool HasRoleOfItsOwn(QWidget* control)
{
    const QAccessible::Role role = Accessible(control)->role();
    return role != QAccessible::NoRole && role != QAccessible::Client;
}

// Shows a window and presses Tab round it from its first control: the
// controls the focus passes, until it comes back.
std::vector<QWidget*> TabRound(QWidget* window)
{
    window->show();
    QApplication::setActiveWindow(window);
    EXPECT_TRUE(QTest::qWaitForWindowActive(window, 5000));
    std::vector<QWidget*> round;
    QWidget* first = QApplication::focusWidget();
    if (!first)
        return round;
    QWidget* at = first;
    for (int i = 0; i < 40; ++i) {
        QWidget* control = qobject_cast<QComboBox*>(at->parentWidget()) ? at->parentWidget() : at;
        round.push_back(control);
        QTest::keyClick(at, Qt::Key_Tab);
        at = QApplication::focusWidget();
        if (!at || at == first)
            break;
    }
    return round;
}

// The round as it goes from the given control on.
std::vector<QWidget*> From(std::vector<QWidget*> round, QWidget* start)
{
    const auto it = std::find(round.begin(), round.end(), start);
    if (it != round.end())
        std::rotate(round.begin(), it, round.end());
    return round;
}

std::vector<std::string> Names(const std::vector<QWidget*>& controls)
{
    std::vector<std::string> names;
    for (QWidget* w : controls)
        names.push_back(SpokenName(w).toStdString());
    return names;
}

} // namespace

TEST_F(AppFixture, MainWindowIsAFrameNamedByItsTitleReadInReadingOrder)
{
    Start();
    QAccessibleInterface* frame = Accessible(form1.get());
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->role(), QAccessible::Window);
    EXPECT_EQ(frame->text(QAccessible::Name), QStringLiteral("Fetchlet"));
    form2->Form_Caption_Edit->setText(QStringLiteral("私のダウンロード"));
    EXPECT_EQ(frame->text(QAccessible::Name), QStringLiteral("私のダウンロード"));

    // Status, gauge, progress text, then the buttons.
    std::vector<QObject*> order;
    for (int i = 0; i < frame->childCount(); ++i)
        order.push_back(frame->child(i)->object());
    const auto at = [&](QObject* o) { return std::find(order.begin(), order.end(), o) - order.begin(); };
    EXPECT_LT(at(form1->Label1), at(form1->Gauge1));
    EXPECT_LT(at(form1->Gauge1), at(form1->Label2));
    EXPECT_LT(at(form1->Label2), at(form1->CuteButton1));
    EXPECT_LT(at(form1->CuteButton1), at(form1->CuteButton2));
    EXPECT_EQ(Accessible(form1->Label1)->role(), QAccessible::Notification);
    EXPECT_EQ(Accessible(form1->Label1)->text(QAccessible::Name), QStringLiteral("ダウンロード状況"));
    EXPECT_EQ(Accessible(form1->Gauge1)->role(), QAccessible::ProgressBar);
    EXPECT_EQ(Accessible(form1->CuteButton1)->role(), QAccessible::Button);
    EXPECT_EQ(Accessible(form1->CuteButton1)->text(QAccessible::Name), QStringLiteral("DownLoad"));
    EXPECT_TRUE(Accessible(form1->CuteButton2)->state().invisible);
    // The settings' button text names the button.
    form2->Button_moji_Edit->setText(QStringLiteral("ダウンロード"));
    EXPECT_EQ(Accessible(form1->CuteButton1)->text(QAccessible::Name), QStringLiteral("ダウンロード"));
}

TEST_F(AppFixture, EveryControlThatTakesTheFocusHasANameAndARoleOfItsOwn)
{
    Start();
    TV_Form version(nullptr);
    const std::vector<std::pair<const char*, QWidget*>> windows = {
        {"main", form1.get()}, {"settings", form2.get()}, {"proxy", form3.get()}, {"version", &version}};
    for (const auto& [window, widget] : windows) {
        int named = 0, all = 0;
        for (QWidget* control : FocusableControls(widget)) {
            ++all;
            const bool ok = !SpokenName(control).trimmed().isEmpty() && HasRoleOfItsOwn(control);
            named += ok ? 1 : 0;
            EXPECT_TRUE(ok) << window << ": " << control->metaObject()->className() << " at "
                            << control->x() << "," << control->y();
        }
        std::printf("%s window: %d of %d focusable controls have a name and a role of their own\n", window, named,
                    all);
        EXPECT_GT(all, 0) << window;
    }
    // Named by the labels the publisher reads, or a name where none is.
    const std::map<QWidget*, QString> expected = {
        {form2->FileListBox1, QStringLiteral("Skin替え")},
        {form2->Button_moji_Edit, QStringLiteral("ボタンの文字")},
        {form2->Form_Caption_Edit, QStringLiteral("タイトルバーの文字")},
        {form2->FileListBox2, QStringLiteral("アイコン")},
        {form2->URL_Edit, QStringLiteral("ファイルのＵＲＬ（間違いないようにね☆）")},
        {form2->pass_Edit, QStringLiteral("パスワード")},
        {form2->Gauge_ComboBox, QStringLiteral("ゲージのタイプ")},
        {form2->ButtonColor, QStringLiteral("色")},
        {form3->Edit1, QStringLiteral("プロキシサーバー")},
        {form3->Edit2, QStringLiteral("ポート")},
        {version.Edit1, QStringLiteral("メールアドレス（連絡先）")},
        {version.Label2, QString::fromUtf8(TV_Form::ShortName)},
    };
    for (const auto& [control, name] : expected)
        EXPECT_EQ(SpokenName(control), name) << control->metaObject()->className();
    EXPECT_EQ(Accessible(version.Label2)->role(), QAccessible::Link);
}

TEST_F(AppFixture, TabReachesEveryControlInTheVisibleOrder)
{
    Start();
    // The main window: the download button alone (the Close/Cancel button
    // is hidden until a download starts).
    EXPECT_EQ(TabRound(form1.get()), std::vector<QWidget*>{form1->CuteButton1});

    TForm2& s = *form2;
    const std::vector<QWidget*> settings = {s.FileListBox1, s.ButtonColor, s.Button_moji_Edit, s.Button_Font_Color,
                                            s.Form_Caption_Edit, s.FileListBox2, s.URL_Edit, s.PASS_CheckBox,
                                            s.pass_Edit, s.LZH_CheckBox, s.Button2, s.DL_moji_Color, s.Gauge_Color,
                                            s.Gauge_ComboBox, s.CuteButton2, s.CuteButton1};
    EXPECT_EQ(Names(From(TabRound(form2.get()), s.FileListBox1)), Names(settings));
    form2->hide();

    // The proxy window's fields take the focus once the box is ticked.
    form3->CheckBox1->setChecked(true);
    const std::vector<QWidget*> proxy = {form3->CheckBox1, form3->Edit1, form3->Edit2, form3->CuteButton1};
    EXPECT_EQ(Names(From(TabRound(form3.get()), form3->CheckBox1)), Names(proxy));
    form3->hide();

    // The version window opens on the address as before; Tab goes round
    // the name, the address and Close, and the name opens with Return.
    TV_Form version(nullptr);
    const auto round = TabRound(&version);
    ASSERT_FALSE(round.empty());
    EXPECT_EQ(round.front(), version.Edit1);
    EXPECT_EQ(Names(From(round, version.Label2)), Names({version.Label2, version.Edit1, version.CuteButton1}));
    version.Label2->setFocus(Qt::TabFocusReason);
    QTest::keyClick(version.Label2, Qt::Key_Return);
    EXPECT_EQ(version.Label2->Caption(), QString::fromUtf8(TV_Form::FullName));
}

TEST_F(AppFixture, DownloadIsHeardStatusAtOnceProgressAFewTimesASecond)
{
    NginxServer nginx("limit_rate 160k;");
    ASSERT_TRUE(nginx.ok()) << nginx.log();
    testsupport::WritePatternFile(nginx.root() + "/slow.bin", 560 * 1024);
    WriteSettings(settings(nginx.url("/slow.bin"), "", 560, false));
    Start();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form1.get()));
    AccessibleEvents events;

    // Pressed as a screen reader presses it: the Press action.
    QAccessibleInterface* download = Accessible(form1->CuteButton1);
    ASSERT_EQ(download->text(QAccessible::Name), QStringLiteral("DownLoad"));
    download->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    bool coveredWhileReceiving = false;
    QString closeNameWhileReceiving;
    when([&] { return form1->Gauge1->Progress() >= 20; },
         [&] {
             coveredWhileReceiving = Accessible(form1->CuteButton1)->state().offscreen;
             closeNameWhileReceiving = Accessible(form1->CuteButton2)->text(QAccessible::Name);
         });
    ASSERT_TRUE(RunEventsUntil([&] { return form1->Label1->Caption() == QStringLiteral("終了"); }, 60000));
    EXPECT_TRUE(shown.empty());
    EXPECT_TRUE(coveredWhileReceiving);
    EXPECT_EQ(closeNameWhileReceiving, QStringLiteral("Cansel"));
    EXPECT_EQ(Accessible(form1->CuteButton2)->text(QAccessible::Name), QStringLiteral("Close"));
    EXPECT_FALSE(Accessible(form1->CuteButton2)->state().offscreen);

    // The status: each change heard as it comes.
    std::vector<QString> heard;
    qint64 receivingAt = -1, finishedAt = -1;
    for (const AccessibleEvent& e : events.Of(form1->Label1, QAccessible::ObjectShow)) {
        heard.push_back(e.name);
        if (e.name == QStringLiteral("受信中"))
            receivingAt = e.at;
        if (e.name == QStringLiteral("終了"))
            finishedAt = e.at;
    }
    EXPECT_EQ(heard, (std::vector<QString>{QStringLiteral("受信中"), QStringLiteral("終了")}));
    // The gauge's value, moving up to 100 (the last within half a second).
    EXPECT_TRUE(RunEventsUntil([&] {
        const auto told = events.Of(form1->Gauge1, QAccessible::ValueChanged);
        return !told.empty() && told.back().value.toInt() == 100;
    }));
    const auto values = events.Of(form1->Gauge1, QAccessible::ValueChanged);
    ASSERT_GE(values.size(), 3u);
    for (size_t i = 1; i < values.size(); ++i)
        EXPECT_LT(values[i - 1].value.toInt(), values[i].value.toInt());
    EXPECT_EQ(values.back().value.toInt(), 100);
    // The progress text, read as it was shown, the last one within a second.
    const QString last = QStringLiteral("560Kbyte/560Kbyte(100%)");
    EXPECT_TRUE(RunEventsUntil([&] {
        const auto texts = events.Of(form1->Label2, QAccessible::NameChanged);
        return !texts.empty() && texts.back().name == last;
    }));
    EXPECT_EQ(Accessible(form1->Label2)->text(QAccessible::Name), last);

    // While the body comes in (from the first progress told to the end),
    // at most four events in any second; what answers the press itself
    // (status, the Close/Cancel button shown and focused) comes at once.
    ASSERT_GE(receivingAt, 0);
    ASSERT_GT(finishedAt, receivingAt);
    qint64 flowingAt = finishedAt;
    for (const AccessibleEvent& e : events.All())
        if (e.at > receivingAt && (e.object == form1->Gauge1 || e.object == form1->Label2))
            flowingAt = std::min(flowingAt, e.at);
    std::vector<qint64> during;
    size_t answer = 0;
    for (const AccessibleEvent& e : events.All()) {
        if (e.at >= flowingAt && e.at < finishedAt)
            during.push_back(e.at);
        else if (e.at >= receivingAt && e.at < flowingAt)
            ++answer;
    }
    size_t most = 0;
    for (size_t i = 0; i < during.size(); ++i) {
        size_t n = 0;
        while (i + n < during.size() && during[i + n] < during[i] + 1000)
            ++n;
        most = std::max(most, n);
    }
    const double seconds = (finishedAt - flowingAt) / 1000.0;
    std::printf("events while the body came in: %zu in %.1f s (%.1f a second), at most %zu in one second; "
                "%zu answering the press, %zu in all from the press to the end\n",
                during.size(), seconds, during.size() / seconds, most, answer, events.All().size());
    EXPECT_LE(most, 4u);
    EXPECT_GE(seconds, 1.0); // the transfer was slow enough to tell
}

TEST_F(AppFixture, CancelIsHeard)
{
    NginxServer nginx("limit_rate 64k;");
    ASSERT_TRUE(nginx.ok()) << nginx.log();
    testsupport::WritePatternFile(nginx.root() + "/slow.bin", 2 << 20);
    WriteSettings(settings(nginx.url("/slow.bin"), "", 2048, false));
    Start();
    AccessibleEvents events;
    when([&] { return form1->Gauge1->Progress() >= 1; },
         [&] {
             QAccessibleInterface* cancel = Accessible(form1->CuteButton2);
             EXPECT_EQ(cancel->text(QAccessible::Name), QStringLiteral("Cansel"));
             cancel->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
         });
    form1->CuteButton1->Click();
    QApplication::processEvents();
    EXPECT_EQ(form1->Label1->Caption(), QStringLiteral("中断しました"));
    const auto heard = events.Of(form1->Label1, QAccessible::ObjectShow);
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[1].name, QStringLiteral("中断しました"));
    // The download button is back, showing and named again.
    EXPECT_FALSE(Accessible(form1->CuteButton1)->state().offscreen);
    EXPECT_FALSE(events.Of(form1->CuteButton1, QAccessible::ObjectShow).empty());
}
