#include "platform/UniqueFd.h"
#include "support/PrivateNetworkTest.h"
#include "support/TestSockets.h"
#include "tools/ampsim/Ampsim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

using namespace ampsim;

namespace {

constexpr int HangLimitMs = 5000;

// ---- command port on loopback ----

UniqueFd Connect(int port)
{
    UniqueFd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    auto a = LoopbackAddress(port);
    if (::connect(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return UniqueFd();
    return s;
}

// One line including its "\n" (and any "\r"), or what came before a close or the time limit.
std::string ReadLine(const UniqueFd& s, int ms = HangLimitMs)
{
    std::string line;
    while (line.empty() || line.back() != '\n') {
        pollfd p { s.get(), POLLIN, 0 };
        if (::poll(&p, 1, ms) != 1)
            break;
        char c;
        if (::recv(s.get(), &c, 1, 0) != 1)
            break;
        line += c;
    }
    return line;
}

bool SendAll(const UniqueFd& s, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        auto n = ::send(s.get(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string RandomBytes(size_t size)
{
    std::mt19937 random(42);
    std::string bytes(size, '\0');
    for (auto& b : bytes)
        b = static_cast<char>(random() & 0xff);
    return bytes;
}

std::string Announcement(size_t size, const std::string& target)
{
    char text[64];
    std::snprintf(text, sizeof text, "$$$FILE_UPLOAD:%08zx:", size);
    return text + target + "\n";
}

class CommandPort : public ::testing::Test {
protected:
    void Start(const std::function<void(Amplifier&)>& fault = {}, const std::string& uploadFolder = {})
    {
        Options options;
        options.Discovery = false;
        options.CommandAddress = "127.0.0.1";
        options.CommandPort = 0;
        options.UploadFolder = uploadFolder;
        options.OnEvent = [this](const std::string& event) {
            std::lock_guard lock(eventMutex);
            events.push_back(event);
        };
        auto amps = MakeAmplifiers(1);
        if (fault)
            fault(amps[0]);
        simulator = std::make_unique<Simulator>(options, amps);
        std::string error;
        ASSERT_TRUE(simulator->Start(error)) << error;
        ASSERT_GT(simulator->CommandPort(), 0);
    }

    // True once an event containing text was told.
    bool Told(const std::string& text)
    {
        return Simulator::WaitUntil(
            [&] {
                std::lock_guard lock(eventMutex);
                return std::any_of(events.begin(), events.end(),
                    [&](const std::string& e) { return e.find(text) != std::string::npos; });
            },
            HangLimitMs);
    }

    // Declared first: the simulator tells events until it is destroyed.
    std::mutex eventMutex;
    std::vector<std::string> events;
    std::unique_ptr<Simulator> simulator;
};

TEST_F(CommandPort, AnswersVersionAndRejectsUnknownAndMalformedCommands)
{
    Start();
    auto s = Connect(simulator->CommandPort());
    ASSERT_TRUE(SendAll(s, "$$$VER?\n"));
    EXPECT_EQ(ReadLine(s), "AMPSIM V1.0 " + simulator->Amp(0).Mac + "\n");
    ASSERT_TRUE(SendAll(s, "$$$VER?\r\n$$$BOGUS\n$$$FILE_UPLOAD:zz:/tmp/x\n"));
    EXPECT_EQ(ReadLine(s), "AMPSIM V1.0 " + simulator->Amp(0).Mac + "\n");
    EXPECT_EQ(ReadLine(s), "ERROR unknown command\n");
    EXPECT_EQ(ReadLine(s), "FILE_UPLOAD_ERROR\n");
    EXPECT_TRUE(simulator->Uploads().empty());
}

TEST_F(CommandPort, UploadKeepsSizeChecksumAndStoresOnlyUnderItsFolder)
{
    auto folder = std::filesystem::temp_directory_path() / ("ampsim_test_" + std::to_string(::getpid()));
    Start({}, folder.string());
    const std::string data = RandomBytes(200000);
    auto s = Connect(simulator->CommandPort());
    // The path tries to climb out of the upload folder: only its file name may be used.
    ASSERT_TRUE(SendAll(s, Announcement(data.size(), "/tmp/../../fw.bin")));
    EXPECT_EQ(ReadLine(s), "FILE_UPLOAD_START\n");
    ASSERT_TRUE(SendAll(s, data));
    EXPECT_EQ(ReadLine(s), "FILE_UPLOAD_DONE\n");

    auto uploads = simulator->Uploads();
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].TargetPath, "/tmp/../../fw.bin");
    EXPECT_EQ(uploads[0].AnnouncedSize, data.size());
    EXPECT_EQ(uploads[0].Received, data.size());
    EXPECT_EQ(uploads[0].Checksum, Fnv1a64(data));
    EXPECT_TRUE(uploads[0].Complete);
    EXPECT_EQ(uploads[0].StoredPath, (folder / simulator->Amp(0).Mac / "fw.bin").string());
    std::ifstream stored(uploads[0].StoredPath, std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(stored)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(content == data);
    EXPECT_TRUE(Told("upload /tmp/../../fw.bin complete: 200000 bytes"));
    std::filesystem::remove_all(folder);
}

TEST_F(CommandPort, DataSentRightBehindTheAnnouncementAndEmptyFilesCount)
{
    Start();
    auto s = Connect(simulator->CommandPort());
    ASSERT_TRUE(
        SendAll(s, Announcement(5, "/tmp/a.txt") + "hello" + Announcement(0, "/tmp/empty") + "$$$VER?\n"));
    EXPECT_EQ(ReadLine(s), "FILE_UPLOAD_START\n");
    EXPECT_EQ(ReadLine(s), "FILE_UPLOAD_DONE\n");
    EXPECT_EQ(ReadLine(s), "FILE_UPLOAD_START\n");
    EXPECT_EQ(ReadLine(s), "FILE_UPLOAD_DONE\n");
    EXPECT_EQ(ReadLine(s).rfind("AMPSIM", 0), 0u);
    auto uploads = simulator->Uploads();
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_EQ(uploads[0].Checksum, Fnv1a64("hello"));
    EXPECT_TRUE(uploads[0].Complete);
    EXPECT_EQ(uploads[1].Received, 0u);
    EXPECT_TRUE(uploads[1].Complete);
}

TEST_F(CommandPort, CrLfFaultEndsEveryReplyWithCarriageReturn)
{
    Start([](Amplifier& a) { a.CommandCrLf = true; });
    auto s = Connect(simulator->CommandPort());
    ASSERT_TRUE(SendAll(s, Announcement(3, "/tmp/x") + "abc"));
    EXPECT_EQ(ReadLine(s), "FILE_UPLOAD_START\r\n");
    EXPECT_EQ(ReadLine(s), "FILE_UPLOAD_DONE\r\n");
}

TEST_F(CommandPort, ClosesMidTransferAfterTheGivenBytes)
{
    Start([](Amplifier& a) { a.CloseAfterBytes = 4096; });
    const std::string data = RandomBytes(100000);
    auto s = Connect(simulator->CommandPort());
    ASSERT_TRUE(SendAll(s, Announcement(data.size(), "/tmp/x")));
    EXPECT_EQ(ReadLine(s), "FILE_UPLOAD_START\n");
    SendAll(s, data); // may fail once the peer has gone
    EXPECT_EQ(ReadLine(s), ""); // closed without a final line
    ASSERT_TRUE(Simulator::WaitUntil([&] { return !simulator->Uploads().empty(); }, HangLimitMs));
    auto upload = simulator->Uploads()[0];
    EXPECT_EQ(upload.Received, 4096u);
    EXPECT_EQ(upload.Checksum, Fnv1a64(data.substr(0, 4096)));
    EXPECT_FALSE(upload.Complete);
    EXPECT_TRUE(Told("upload /tmp/x broken off after 4096 of 100000 bytes"));
}

TEST_F(CommandPort, SilentAndLateAmplifiersHoldTheirReplies)
{
    Start([](Amplifier& a) { a.CommandDelayMs = 400; });
    auto late = Connect(simulator->CommandPort());
    ASSERT_TRUE(SendAll(late, "$$$VER?\n"));
    EXPECT_EQ(ReadLine(late, 150), "");
    EXPECT_EQ(ReadLine(late).rfind("AMPSIM V1.0", 0), 0u);

    simulator->Modify(0, [](Amplifier& a) {
        a.CommandDelayMs = 0;
        a.CommandSilent = true;
    });
    auto silent = Connect(simulator->CommandPort());
    ASSERT_TRUE(SendAll(silent, "$$$VER?\n"));
    EXPECT_EQ(ReadLine(silent, 300), "");
    EXPECT_EQ(simulator->Connections(), 2u);
}

TEST_F(CommandPort, SlowReaderTakesDataAtItsRate)
{
    Start([](Amplifier& a) { a.ReadBytesPerSecond = 100000; });
    const std::string data = RandomBytes(60000);
    auto s = Connect(simulator->CommandPort());
    ASSERT_TRUE(SendAll(s, Announcement(data.size(), "/tmp/x")));
    EXPECT_EQ(ReadLine(s), "FILE_UPLOAD_START\n");
    ASSERT_TRUE(SendAll(s, data));
    // The whole file sits in the socket buffers now; the reader has taken only a slice of it.
    auto early = simulator->Uploads()[0];
    EXPECT_LT(early.Received, data.size());
    EXPECT_EQ(ReadLine(s), "FILE_UPLOAD_DONE\n");
    auto done = simulator->Uploads()[0];
    EXPECT_EQ(done.Checksum, Fnv1a64(data));
    EXPECT_TRUE(done.Complete);
}

TEST_F(CommandPort, StopEndsPromptlyWithClientsStillConnected)
{
    Start([](Amplifier& a) { a.CommandDelayMs = 60000; });
    auto s = Connect(simulator->CommandPort());
    ASSERT_TRUE(SendAll(s, "$$$VER?\n" + Announcement(1000, "/tmp/x")));
    ASSERT_TRUE(Simulator::WaitUntil([&] { return simulator->Uploads().size() == 1; }, HangLimitMs));
    simulator->Stop();
    EXPECT_EQ(ReadLine(s), ""); // closed, the delayed replies dropped
    simulator->Stop();
}

TEST(AmpsimText, RepliesCarryAllSixFieldsAndAddressesCountUp)
{
    auto amps = MakeAmplifiers(3, "198.18.1.253", "255.255.0.0", { "Stage-Left", "FOH" });
    EXPECT_EQ(amps[0].Mac, "0050C2A10001");
    EXPECT_EQ(amps[2].Mac, "0050C2A10003");
    EXPECT_EQ(amps[1].IP, "198.18.1.254");
    EXPECT_EQ(amps[2].IP, "198.18.2.1");
    EXPECT_EQ(amps[2].Name, "Stage-Left-2");
    amps[0].Gateway.clear();
    EXPECT_EQ(ReplyText(amps[0]), "0050C2A10001 0 198.18.1.253 255.255.0.0 0.0.0.0 Stage-Left");
    amps[0].Dhcp = true;
    EXPECT_EQ(ReplyText(amps[0]).substr(13, 1), "1");
    EXPECT_EQ(NextAddress("not an address"), "");
    // Known FNV-1a 64 values.
    EXPECT_EQ(Fnv1a64(""), 0xcbf29ce484222325ull);
    EXPECT_EQ(Fnv1a64("a"), 0xaf63dc4c8601ec8cull);
    EXPECT_EQ(Fnv1a64("b", 1, Fnv1a64("a")), Fnv1a64("ab"));
}

// ---- discovery and settings inside the private network ----

struct Reply {
    std::string From;
    std::string Text;
};

class Discovery : public PrivateNetworkTest<3> {
protected:
    void Start(Options options = {}, const std::function<void(std::vector<Amplifier>&)>& change = {})
    {
        options.Command = false;
        auto amps = MakeAmplifiers(3, TestNetwork::AmpAddress(0));
        if (change)
            change(amps);
        simulator = std::make_unique<Simulator>(options, amps);
        std::string error;
        bool started = false;
        net->RunInAmp([&] { started = simulator->Start(error); });
        ASSERT_TRUE(started) << error;
        net->RunInApp([&] { app = BoundUdpSocket("0.0.0.0", 8001); });
    }

    void SendFromApp(const std::string& text, const std::string& to = "255.255.255.255")
    {
        ASSERT_EQ(SendDatagram(app.get(), text, to, 8001), static_cast<ssize_t>(text.size()));
    }

    // Replies that reach the app side within ms, the app's own broadcasts left out.
    std::vector<Reply> Collect(size_t atLeast, int ms = HangLimitMs)
    {
        std::vector<Reply> replies;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (replies.size() < atLeast) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now())
                            .count();
            pollfd p { app.get(), POLLIN, 0 };
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) != 1)
                break;
            char buffer[256];
            sockaddr_in from {};
            socklen_t length = sizeof from;
            auto n = ::recvfrom(
                app.get(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
            char ip[INET_ADDRSTRLEN];
            ::inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
            if (std::string(ip) == TestNetwork::AppAddress())
                continue;
            replies.push_back(Reply { std::string(ip) + ":" + std::to_string(ntohs(from.sin_port)),
                std::string(buffer, static_cast<size_t>(n)) });
        }
        return replies;
    }

    std::vector<std::string> Texts(const std::vector<Reply>& replies)
    {
        std::vector<std::string> texts;
        for (const auto& r : replies)
            texts.push_back(r.Text);
        std::sort(texts.begin(), texts.end());
        return texts;
    }

    std::unique_ptr<Simulator> simulator;
    UniqueFd app;
};

TEST_F(Discovery, EveryAmplifierBroadcastsItsReplyFromItsOwnAddress)
{
    Start();
    SendFromApp(Hello);
    auto replies = Collect(3);
    ASSERT_EQ(replies.size(), 3u);
    for (const auto& r : replies) {
        auto mac = r.Text.substr(0, 12);
        size_t i = std::stoul(mac.substr(9), nullptr, 16) - 1;
        ASSERT_LT(i, 3u);
        EXPECT_EQ(r.Text, ReplyText(simulator->Amp(i)));
        EXPECT_EQ(r.From, TestNetwork::AmpAddress(static_cast<int>(i)) + ":8001");
    }
    EXPECT_EQ(simulator->HellosReceived(), 1u);
    EXPECT_TRUE(simulator->ReplyTimes().empty()) << "kept only when asked for";
    // Its own looped-back broadcasts are not taken for received datagrams.
    ASSERT_EQ(simulator->Received().size(), 1u);
    EXPECT_EQ(simulator->Received()[0].From, TestNetwork::AppAddress() + ":8001");
    // Nor do they reach it: the second hello is read after anything the first one's replies left.
    SendFromApp(Hello);
    ASSERT_TRUE(Simulator::WaitUntil([&] { return simulator->HellosReceived() == 2; }, HangLimitMs));
    EXPECT_EQ(simulator->OwnDatagramsRead(), 0u) << "its own replies took room in its socket";
}

TEST_F(Discovery, UnicastRepliesSilentAndCrLfAmplifiers)
{
    Options options;
    options.ReplyBroadcast = false;
    options.JitterMs = 200;
    Start(options, [](std::vector<Amplifier>& amps) {
        amps[1].Silent = true;
        amps[2].ReplyCrLf = true;
    });
    SendFromApp(Hello);
    auto replies = Collect(3, 1500);
    auto texts = Texts(replies);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], ReplyText(simulator->Amp(0)));
    EXPECT_EQ(texts[1], ReplyText(simulator->Amp(2)) + "\r\n");

    // A hello sent to one amplifier's own address is answered by that one only.
    SendFromApp(Hello, TestNetwork::AmpAddress(2));
    replies = Collect(2, 800);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].From, TestNetwork::AmpAddress(2) + ":8001");
}

// Replies sent by several threads at once: each amplifier still answers every hello exactly once,
// from its own address, with its faults, and the record of when each left stays in sending order.
TEST_F(Discovery, SeveralSendThreadsAnswerEachHelloOncePerAmplifier)
{
    struct Case {
        unsigned Threads;
        bool ThirdSilent;
    };
    for (const Case c : { Case { 2, true }, Case { 3, false }, Case { 8, false } }) {
        SCOPED_TRACE("send threads " + std::to_string(c.Threads));
        simulator.reset();
        app.reset();
        Options options;
        options.SendThreads = c.Threads;
        options.RecordReplyTimes = true;
        Start(options, [&](std::vector<Amplifier>& amps) {
            amps[1].ReplyCrLf = true;
            amps[2].Silent = c.ThirdSilent;
        });
        const size_t answering = c.ThirdSilent ? 2 : 3;
        for (int hello = 1; hello <= 2; ++hello) {
            SendFromApp(Hello);
            auto replies = Collect(answering);
            ASSERT_EQ(replies.size(), answering);
            std::sort(replies.begin(), replies.end(),
                [](const Reply& a, const Reply& b) { return a.From < b.From; });
            for (size_t i = 0; i < answering; ++i) {
                EXPECT_EQ(replies[i].From, TestNetwork::AmpAddress(static_cast<int>(i)) + ":8001");
                EXPECT_EQ(replies[i].Text, ReplyText(simulator->Amp(i)) + (i == 1 ? "\r\n" : ""));
            }
        }
        // Each hello's record is added at once, after all its replies left.
        ASSERT_TRUE(Simulator::WaitUntil(
            [&] { return simulator->ReplyTimes().size() >= 2 * answering; }, HangLimitMs));
        const auto times = simulator->ReplyTimes();
        std::vector<size_t> perAmp(3);
        for (const auto& t : times)
            perAmp.at(t.Amp)++;
        EXPECT_EQ(perAmp, (std::vector<size_t> { 2, 2, c.ThirdSilent ? 0u : 2u }));
        EXPECT_EQ(simulator->RepliesSent(), 2 * answering);
        EXPECT_TRUE(std::is_sorted(times.begin(), times.end(),
            [](const ReplyTime& a, const ReplyTime& b) { return a.Sent < b.Sent; }));
    }
}

// An amplifier whose address this machine does not hold (taken by settings, never added to an
// interface) still answers, but never from that address: a reply must not forge its source.
TEST_F(Discovery, AmplifierOnAnAddressNotHeldHereAnswersFromAHeldOne)
{
    const std::string notHeld = "198.18.7.7";
    struct Case {
        const char* name;
        bool broadcast;
    };
    for (const Case& c : { Case { "broadcast replies", true }, Case { "replies to the asker", false } }) {
        SCOPED_TRACE(c.name);
        Options options;
        options.ReplyBroadcast = c.broadcast;
        Start(options, [&](std::vector<Amplifier>& amps) { amps[1].IP = notHeld; });
        for (int round = 0; round < 2; ++round) { // the second one after the addresses were read
            SendFromApp(Hello);
            auto replies = Collect(3);
            ASSERT_EQ(replies.size(), 3u);
            for (const auto& r : replies) {
                const size_t i = std::stoul(r.Text.substr(9, 3), nullptr, 16) - 1;
                ASSERT_LT(i, 3u);
                EXPECT_EQ(r.Text, ReplyText(simulator->Amp(i)));
                const std::string ip = r.From.substr(0, r.From.find(':'));
                EXPECT_NE(ip, notHeld);
                if (i != 1) {
                    EXPECT_EQ(ip, TestNetwork::AmpAddress(static_cast<int>(i)));
                }
            }
        }
        simulator.reset();
        app.reset();
    }
}

TEST_F(Discovery, SettingsDatagramReachesOnlyItsAmplifierWhichRebootsAndAnswersAnew)
{
    Options options;
    options.RebootMs = 1500;
    Start(options, [](std::vector<Amplifier>& amps) { amps[2].LeaseIP = TestNetwork::AmpAddress(1); });
    auto target = simulator->Amp(1);
    const std::string fixed = target.Mac + " 5 0 198.18.7.7 255.255.255.0 198.18.0.254";
    SendFromApp(fixed);
    ASSERT_TRUE(Simulator::WaitUntil([&] { return !simulator->SettingsReceived(1).empty(); }, HangLimitMs));
    EXPECT_EQ(simulator->SettingsReceived(1), std::vector<std::string> { fixed });
    EXPECT_TRUE(simulator->SettingsReceived(0).empty());
    EXPECT_TRUE(simulator->SettingsReceived(2).empty());

    // While it reboots it stays silent; the others answer.
    EXPECT_TRUE(simulator->Rebooting(1));
    SendFromApp(Hello);
    auto texts = Texts(Collect(3, 300));
    EXPECT_EQ(
        texts, (std::vector<std::string> { ReplyText(simulator->Amp(0)), ReplyText(simulator->Amp(2)) }));

    ASSERT_TRUE(Simulator::WaitUntil([&] { return !simulator->Rebooting(1); }, HangLimitMs));
    SendFromApp(Hello);
    texts = Texts(Collect(3));
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[1], target.Mac + " 0 198.18.7.7 255.255.255.0 198.18.0.254 " + target.Name);

    // DHCP form: the amplifier takes its lease address and reports DHCP in the flag.
    auto dhcp = simulator->Amp(2);
    SendFromApp(dhcp.Mac + " 5 1");
    ASSERT_TRUE(Simulator::WaitUntil(
        [&] { return !simulator->Rebooting(2) && simulator->Amp(2).Dhcp; }, HangLimitMs));
    EXPECT_EQ(simulator->Amp(2).IP, TestNetwork::AmpAddress(1));
    EXPECT_EQ(ReplyText(simulator->Amp(2)).substr(12, 3), " 1 ");
}

TEST_F(Discovery, UnusableSettingsAreRecordedButNotApplied)
{
    Start();
    auto amp = simulator->Amp(0);
    SendFromApp(amp.Mac + " 5 0 999.1.1.1 255.255.0.0 0.0.0.0");
    SendFromApp(amp.Mac.substr(0, 11) + " 5 1");
    SendFromApp(amp.Mac + " 5 0 198.18.9.9 255.255.0.0 "); // empty gateway: a blank at the end
    ASSERT_TRUE(
        Simulator::WaitUntil([&] { return simulator->SettingsReceived(0).size() == 2; }, HangLimitMs));
    ASSERT_TRUE(Simulator::WaitUntil([&] { return simulator->Received().size() == 3; }, HangLimitMs));
    EXPECT_EQ(simulator->SettingsReceived(0)[0], amp.Mac + " 5 0 999.1.1.1 255.255.0.0 0.0.0.0");
    EXPECT_EQ(simulator->Amp(0).IP, "198.18.9.9");
    EXPECT_EQ(simulator->Amp(0).Gateway, "0.0.0.0");
}

} // namespace
