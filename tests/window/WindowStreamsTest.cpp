// The Streams menu: a signal of several input streams lists them with their
// packets, the one passed checked, and choosing another passes that one.
#include "tests/window/WindowFixture.h"

#include "tests/LoopbackServer.h"
#include "tests/TestSupport.h"
#include "ui/InputStreamMenu.h"

#include <QMenuBar>

TEST_F(WindowTest, StreamsMenuListsAndChoosesTheInputStreams)
{
    const std::string iq = path("mis.iq").toStdString();
    const testsupport::ToolRun tx = testsupport::runTool(
        TAVIREL_SIGGEN, "--isi 10 --isi 11 --service FIRST --service SECOND --pilots on --esn0 12 --frames 24 --output " + iq);
    ASSERT_EQ(tx.exitCode, 0) << tx.err;
    std::vector<uint8_t> samples = testsupport::readFile(iq);
    const size_t half = samples.size() / 2 / 4 * 4;

    open();
    auto* menu = window->findChild<InputStreamMenu*>("menu_streams");
    ASSERT_NE(menu, nullptr);
    const QList<QAction*> bar = ui().menubar->actions();
    ASSERT_GE(bar.size(), 2);
    EXPECT_EQ(bar[bar.size() - 2], menu->menuAction()) << "just before Help";
    menu->refresh();
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions()[0]->text(), "A single stream");
    EXPECT_FALSE(menu->actions()[0]->isEnabled());

    // Part of the signal over TCP, through the chain.
    auto receive = [&](std::vector<uint8_t> part) {
        testsupport::SendOnceServer server(std::move(part));
        TcpInputSettings input;
        input.port = server.port;
        input.bandwidthMHz = 2.0;
        window->connectTcp(input);
        return pumpUntil([&] { return window->currentDevice() == nullptr; }, 240000) &&
               chain().waitIdle(std::chrono::seconds(60));
    };

    // The first half of the signal: both streams seen, the first passed.
    ASSERT_TRUE(receive(std::vector<uint8_t>(samples.begin(), samples.begin() + long(half))));
    menu->refresh();
    ASSERT_EQ(menu->actions().size(), 2);
    const int first = chain().inputStream();
    ASSERT_TRUE(first == 10 || first == 11) << first;
    for (QAction* a : menu->actions()) {
        EXPECT_TRUE(a->text().startsWith("ISI 10: ") || a->text().startsWith("ISI 11: ")) << a->text().toStdString();
        EXPECT_TRUE(a->text().endsWith(" packets")) << a->text().toStdString();
        EXPECT_EQ(a->isChecked(), a->text().startsWith(QString("ISI %1:").arg(first)));
    }

    // The other chosen: the service of the second half is its own.
    const int other = first == 10 ? 11 : 10;
    for (QAction* a : menu->actions())
        if (a->text().startsWith(QString("ISI %1:").arg(other)))
            a->trigger();
    EXPECT_EQ(window->receiverSettings().inputStream, other);
    ASSERT_TRUE(receive(std::vector<uint8_t>(samples.begin() + long(half), samples.end())));
    EXPECT_EQ(chain().inputStream(), other);
    menu->refresh();
    for (QAction* a : menu->actions())
        EXPECT_EQ(a->isChecked(), a->text().startsWith(QString("ISI %1:").arg(other))) << a->text().toStdString();
}
