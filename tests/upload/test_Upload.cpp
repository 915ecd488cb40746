#include "upload/Upload.h"

#include "upload/UploadSource.h"
#include "upload/UploadStop.h"

#include "platform/UniqueFd.h"
#include "support/CommandSimulator.h"
#include "support/TestSockets.h"
#include "tools/ampsim/Ampsim.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <regex>
#include <thread>

namespace fs = std::filesystem;

namespace {

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "tovrin-upload-XXXXXX").string();
        path = mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempDir()
    {
        std::error_code ignored;
        if (!path.empty())
            fs::remove_all(path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // A file of pseudo-random bytes; returns its path.
    std::string File(const std::string& name, size_t size, unsigned seed = 7) const
    {
        std::string bytes(size, '\0');
        std::mt19937 random(seed);
        for (char& byte : bytes)
            byte = static_cast<char>(random());
        const std::string file = path + "/" + name;
        std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return file;
    }
    std::string path;
};

uint64_t ChecksumOf(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return ampsim::Fnv1a64(bytes);
}

struct UploadRun {
    TUploadResult result {};
    std::vector<std::string> lines;
    std::vector<std::pair<uint64_t, uint64_t>> progress;
    TUploadOutcome outcome;
};

// onProgress runs on the uploading thread after each report (e.g. to stop it there).
UploadRun Upload(
    TUploadParams params, TUploadStop* stop = nullptr, const std::function<void()>& onProgress = {})
{
    UploadRun run;
    run.result = UploadFile(
        params, [&](const std::string& line) { run.lines.push_back(line); },
        [&](uint64_t sent, uint64_t total, double) {
            run.progress.emplace_back(sent, total);
            if (onProgress)
                onProgress();
        },
        stop, &run.outcome);
    return run;
}

// One simulated amplifier on loopback, command port only (nothing is broadcast).
class SimulatedAmp {
public:
    explicit SimulatedAmp(const std::function<void(ampsim::Amplifier&)>& faults = {})
    {
        sim = LoopbackCommandSimulator(faults);
        started = sim->Start(error);
    }
    TUploadParams Params(const std::string& source) const
    {
        TUploadParams params;
        params.Address = "127.0.0.1";
        params.Port = sim->CommandPort();
        params.SourcePath = source;
        return params;
    }
    std::string Endpoint() const { return "127.0.0.1:" + std::to_string(sim->CommandPort()); }

    std::unique_ptr<ampsim::Simulator> sim;
    bool started = false;
    std::string error;
};

// An amplifier that follows a script, for faults at one particular step: accepts one connection
// and runs the script on it. The test releases it with Finish() once its upload has returned.
class ScriptedAmp {
public:
    using Script = std::function<void(int connection, std::shared_future<void> finished)>;

    explicit ScriptedAmp(Script script)
        : finishedFuture(finishedPromise.get_future().share())
    {
        listener.reset(::socket(AF_INET, SOCK_STREAM, 0));
        const sockaddr_in address = LoopbackAddress(0);
        bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
        listen(listener.get(), 1);
        port = LocalPortOf(listener.get());
        thread = std::thread([this, script = std::move(script)] {
            UniqueFd connection(accept(listener.get(), nullptr, nullptr));
            if (connection.get() >= 0)
                script(connection.get(), finishedFuture);
        });
    }
    ~ScriptedAmp()
    {
        Finish();
        shutdown(listener.get(), SHUT_RDWR);
        thread.join();
    }
    void Finish()
    {
        if (!finished) {
            finished = true;
            finishedPromise.set_value();
        }
    }
    TUploadParams Params(const std::string& source) const
    {
        TUploadParams params;
        params.Address = "127.0.0.1";
        params.Port = port;
        params.SourcePath = source;
        params.ReplyTimeoutMs = 300;
        return params;
    }

    static std::string ReadLine(int connection)
    {
        std::string line;
        char byte = 0;
        while (recv(connection, &byte, 1, 0) == 1 && byte != '\n')
            line += byte;
        return line;
    }
    static void Write(int connection, const std::string& text)
    {
        send(connection, text.data(), text.size(), MSG_NOSIGNAL);
    }
    static uint64_t Drain(int connection, uint64_t count)
    {
        std::vector<char> buffer(65536);
        uint64_t got = 0;
        while (got < count) {
            const ssize_t n
                = recv(connection, buffer.data(), std::min<uint64_t>(buffer.size(), count - got), 0);
            if (n <= 0)
                break;
            got += static_cast<uint64_t>(n);
        }
        return got;
    }

    int port = 0;

private:
    UniqueFd listener;
    std::promise<void> finishedPromise;
    std::shared_future<void> finishedFuture;
    bool finished = false;
    std::thread thread;
};

// What an amplifier script reported, or a failure (and the largest value) when it reported nothing
// within 5 s, e.g. because the upload never connected: a test never waits on it for ever.
uint64_t ReportedWithin(std::promise<uint64_t>& reported)
{
    auto future = reported.get_future();
    if (future.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ADD_FAILURE() << "the amplifier script reported nothing";
        return UINT64_MAX;
    }
    return future.get();
}

bool Contains(const std::vector<std::string>& lines, const std::string& wanted)
{
    return std::find(lines.begin(), lines.end(), wanted) != lines.end();
}

} // namespace

TEST(UploadTargetPath, TakesTheNameAfterTheLastSlashBackslashOrDriveColon)
{
    EXPECT_EQ(UploadTargetPath("C:\\fw\\app.bin"), "/tmp/app.bin");
    EXPECT_EQ(UploadTargetPath("/home/staff/fw/app.bin"), "/tmp/app.bin");
    EXPECT_EQ(UploadTargetPath("C:app.bin"), "/tmp/app.bin");
    EXPECT_EQ(UploadTargetPath("fw/sub\\app.bin"), "/tmp/app.bin");
    EXPECT_EQ(UploadTargetPath("app.bin"), "/tmp/app.bin");
    // A colon elsewhere is part of a Linux file name.
    EXPECT_EQ(UploadTargetPath("/data/build:42.bin"), "/tmp/build:42.bin");
    EXPECT_EQ(UploadTargetPath(""), "/tmp/");
}

class UploadSizes : public ::testing::TestWithParam<size_t> { };

TEST_P(UploadSizes, ArriveByteExactWithTheLogInOrder)
{
    const size_t size = GetParam();
    TempDir dir;
    const std::string file = dir.File("fw.bin", size);
    SimulatedAmp amp;
    ASSERT_TRUE(amp.started) << amp.error;

    const UploadRun run = Upload(amp.Params(file));

    ASSERT_EQ(run.result, TUploadResult::Done);
    ASSERT_EQ(run.lines.size(), 9u);
    EXPECT_EQ(run.lines[0], "Loaded file " + file + " (" + std::to_string(size) + " bytes).");
    EXPECT_EQ(run.lines[1], "Connected to " + amp.Endpoint() + " ...");
    EXPECT_EQ(run.lines[2], "$$$VER?");
    EXPECT_EQ(run.lines[3].rfind(ampsim::Options().Version, 0), 0u) << run.lines[3];
    char sizeField[9];
    std::snprintf(sizeField, sizeof sizeField, "%08zx", size);
    EXPECT_EQ(run.lines[4], std::string("$$$FILE_UPLOAD:") + sizeField + ":/tmp/fw.bin");
    EXPECT_EQ(run.lines[5], "FILE_UPLOAD_START");
    EXPECT_EQ(run.lines[6], "Sending done.");
    EXPECT_NE(run.lines[7], "Reply timeout!");
    EXPECT_EQ(run.lines[8], "Disconnected from " + amp.Endpoint() + ".");

    const auto uploads = amp.sim->Uploads();
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].TargetPath, "/tmp/fw.bin");
    EXPECT_EQ(uploads[0].AnnouncedSize, size);
    EXPECT_EQ(uploads[0].Received, size);
    EXPECT_EQ(uploads[0].Checksum, ChecksumOf(file));
    EXPECT_TRUE(uploads[0].Complete);
    // Not a byte more than announced reaches the amplifier.
    EXPECT_EQ(uploads[0].Trailing, 0u);
    EXPECT_EQ(run.outcome.Sent, size);
    EXPECT_EQ(run.outcome.Version, run.lines[3]);

    ASSERT_FALSE(run.progress.empty());
    EXPECT_EQ(run.progress.back(), (std::pair<uint64_t, uint64_t>(size, size)));
}

INSTANTIATE_TEST_SUITE_P(Edges, UploadSizes, ::testing::Values(0, 1, 255, 65536, 65537, 50u << 20));

TEST(Upload, SendsTheDataInChunksOf65536Bytes)
{
    TempDir dir;
    SimulatedAmp amp;
    ASSERT_TRUE(amp.started) << amp.error;

    UploadRun run = Upload(amp.Params(dir.File("a.bin", 65536)));
    EXPECT_EQ(run.progress, (std::vector<std::pair<uint64_t, uint64_t>> { { 0, 65536 }, { 65536, 65536 } }));
    run = Upload(amp.Params(dir.File("b.bin", 65537)));
    EXPECT_EQ(run.progress,
        (std::vector<std::pair<uint64_t, uint64_t>> { { 0, 65537 }, { 65536, 65537 }, { 65537, 65537 } }));
    // On the wire: exactly the announced bytes, nothing behind them.
    const auto uploads = amp.sim->Uploads();
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_EQ(uploads[0].Received, 65536u);
    EXPECT_EQ(uploads[1].Received, 65537u);
    for (const auto& upload : uploads) {
        EXPECT_TRUE(upload.Complete);
        EXPECT_EQ(upload.Trailing, 0u);
    }
}

TEST(Upload, SourceThatCannotBeLoadedSaysWhyWithoutConnecting)
{
    SimulatedAmp amp;
    ASSERT_TRUE(amp.started) << amp.error;
    TempDir dir;
    const std::string file = dir.File("fw.bin", 10);
    const struct {
        std::string source;
        const char* why;
    } cases[] = {
        { "", "No such file or directory" },
        { dir.path + "/missing.bin", "No such file or directory" },
        { file + "/inner.bin", "Not a directory" },
        { dir.path + "/" + std::string(300, 'n'), "File name too long" },
    };
    for (const auto& c : cases) {
        const UploadRun run = Upload(amp.Params(c.source));
        EXPECT_EQ(run.result, TUploadResult::LoadFailed);
        EXPECT_EQ(run.lines, (std::vector<std::string> { "Loading file " + c.source + " failed.", c.why }));
    }
    EXPECT_EQ(amp.sim->Connections(), 0u);
}

TEST(Upload, FileTooLargeForTheAnnouncementIsRefusedBeforeLoading)
{
    SimulatedAmp amp;
    ASSERT_TRUE(amp.started) << amp.error;
    TempDir dir;
    for (const uint64_t size : { uint64_t { 1 } << 32, (uint64_t { 1 } << 31) }) {
        // Sparse: nothing of it is ever written or read.
        const std::string file = dir.path + "/big.bin";
        {
            UniqueFd fd(open(file.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600));
            ASSERT_EQ(ftruncate(fd.get(), static_cast<off_t>(size)), 0);
        }
        const UploadRun run = Upload(amp.Params(file));
        EXPECT_EQ(run.result, TUploadResult::Refused);
        EXPECT_EQ(run.lines,
            std::vector<std::string> { "File " + file + " is too large to upload (" + std::to_string(size)
                + " bytes, at most 2147483647)." });
    }
    EXPECT_EQ(amp.sim->Connections(), 0u);
}

// A control byte in the name could end the announcement early or hide part of it in a log.
TEST(Upload, NameWithAControlCharacterIsRefusedBeforeConnecting)
{
    SimulatedAmp amp;
    ASSERT_TRUE(amp.started) << amp.error;
    TempDir dir;
    for (const char* name : { "fw.bin\n$$$REBOOT", "fw\r.bin", "fw\t.bin", "fw\x7f.bin", "\x1b[2Jfw.bin" }) {
        const UploadRun run = Upload(amp.Params(dir.File(name, 10)));
        EXPECT_EQ(run.result, TUploadResult::Refused) << name;
        EXPECT_EQ(run.lines.size(), 1u) << name;
    }
    EXPECT_EQ(amp.sim->Connections(), 0u);
}

// The path is looked at, then opened: what was opened is what counts, whatever took the path's
// place in between.
TEST(UploadSource, FileSwappedBetweenTheLookAndTheOpenIsCaught)
{
    TempDir dir;
    const std::string looked = dir.File("looked.bin", 100);
    const std::string fifo = dir.path + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::string opened;
        TSourceOpen result;
        uint64_t size;
    } cases[] = {
        { fifo, TSourceOpen::NotRegular, 0 },
        { dir.path, TSourceOpen::NotRegular, 0 },
        { "/dev/zero", TSourceOpen::NotRegular, 0 },
        { dir.File("smaller.bin", 40), TSourceOpen::Opened, 40 },
        { dir.File("larger.bin", 300), TSourceOpen::TooLarge, 300 },
        { dir.path + "/gone.bin", TSourceOpen::Failed, 0 },
    };
    for (const auto& c : cases) {
        TSourceCalls calls;
        calls.Stat = [&](const char*, struct stat* info) { return ::stat(looked.c_str(), info); };
        calls.Open = [&](const char*, int flags) { return ::open(c.opened.c_str(), flags); };
        TUploadSource source(calls);
        EXPECT_EQ(source.Open(looked, 200), c.result) << c.opened;
        if (c.result == TSourceOpen::Opened || c.result == TSourceOpen::TooLarge) {
            EXPECT_EQ(source.Size(), c.size) << c.opened;
        }
        if (c.result != TSourceOpen::Opened)
            continue;
        std::vector<char> buffer(1000);
        size_t length = 0;
        EXPECT_EQ(source.Next(buffer.data(), buffer.size(), length), TUploadSource::TRead::Piece);
        EXPECT_EQ(length, c.size);
        EXPECT_EQ(source.Next(buffer.data(), buffer.size(), length), TUploadSource::TRead::End);
    }
}

TEST(Upload, NothingListeningFailsAtConnecting)
{
    TempDir dir;
    TUploadParams params;
    params.Address = "127.0.0.1";
    params.Port = UnusedLoopbackPort();
    params.SourcePath = dir.File("fw.bin", 100);
    const UploadRun run = Upload(params);
    EXPECT_EQ(run.result, TUploadResult::ConnectFailed);
    EXPECT_EQ(run.lines,
        (std::vector<std::string> { "Loaded file " + params.SourcePath + " (100 bytes).",
            "Connecting to 127.0.0.1:" + std::to_string(params.Port) + " failed." }));
}

TEST(Upload, SilentAmplifierAtTheVersionQuestion)
{
    SimulatedAmp amp([](ampsim::Amplifier& a) { a.CommandSilent = true; });
    ASSERT_TRUE(amp.started) << amp.error;
    TempDir dir;
    auto params = amp.Params(dir.File("fw.bin", 100));
    params.ReplyTimeoutMs = 300;
    const UploadRun run = Upload(params);
    EXPECT_EQ(run.result, TUploadResult::NoReply);
    ASSERT_EQ(run.lines.size(), 5u);
    EXPECT_EQ(run.lines[2], "$$$VER?");
    EXPECT_EQ(run.lines[3], "Reply timeout!");
    EXPECT_EQ(run.lines[4], "Disconnected from " + amp.Endpoint() + ".");
}

TEST(Upload, SilentAmplifierAtTheAnnouncement)
{
    ScriptedAmp amp([](int connection, std::shared_future<void> finished) {
        ScriptedAmp::ReadLine(connection);
        ScriptedAmp::Write(connection, "V2\n");
        ScriptedAmp::ReadLine(connection);
        finished.wait();
    });
    TempDir dir;
    const UploadRun run = Upload(amp.Params(dir.File("fw.bin", 255)));
    EXPECT_EQ(run.result, TUploadResult::NoReply);
    ASSERT_EQ(run.lines.size(), 7u);
    EXPECT_EQ(run.lines[3], "V2");
    EXPECT_EQ(run.lines[4], "$$$FILE_UPLOAD:000000ff:/tmp/fw.bin");
    EXPECT_EQ(run.lines[5], "Reply timeout!");
    EXPECT_EQ(run.lines[6], "Disconnected from 127.0.0.1:" + std::to_string(amp.port) + ".");
}

TEST(Upload, SilentAmplifierAfterTheData)
{
    std::promise<uint64_t> received;
    ScriptedAmp amp([&received](int connection, std::shared_future<void> finished) {
        ScriptedAmp::ReadLine(connection);
        ScriptedAmp::Write(connection, "V2\n");
        ScriptedAmp::ReadLine(connection);
        ScriptedAmp::Write(connection, "FILE_UPLOAD_START\n");
        received.set_value(ScriptedAmp::Drain(connection, 70000));
        finished.wait();
    });
    TempDir dir;
    const UploadRun run = Upload(amp.Params(dir.File("fw.bin", 70000)));
    EXPECT_EQ(run.result, TUploadResult::NoReply);
    ASSERT_EQ(run.lines.size(), 9u);
    EXPECT_EQ(run.lines[6], "Sending done.");
    EXPECT_EQ(run.lines[7], "Reply timeout!");
    EXPECT_EQ(ReportedWithin(received), 70000u);
}

TEST(Upload, StartReplyWithCarriageReturnIsUnexpectedAndNoDataIsSent)
{
    SimulatedAmp amp([](ampsim::Amplifier& a) { a.CommandCrLf = true; });
    ASSERT_TRUE(amp.started) << amp.error;
    TempDir dir;
    const UploadRun run = Upload(amp.Params(dir.File("fw.bin", 1000)));
    EXPECT_EQ(run.result, TUploadResult::Unexpected);
    ASSERT_EQ(run.lines.size(), 8u);
    EXPECT_EQ(run.lines[3].back(), '\r');
    EXPECT_EQ(run.lines[4], "$$$FILE_UPLOAD:000003e8:/tmp/fw.bin");
    EXPECT_EQ(run.lines[5], "FILE_UPLOAD_START\r");
    EXPECT_EQ(run.lines[6], "Unexpected Reply!");
    EXPECT_EQ(run.lines[7], "Disconnected from " + amp.Endpoint() + ".");
    ASSERT_TRUE(run.progress.empty());
    for (const auto& upload : amp.sim->Uploads())
        EXPECT_EQ(upload.Received, 0u);
}

TEST(Upload, AmplifierClosingInTheMiddleOfTheDataIsReportedNotDone)
{
    SimulatedAmp amp([](ampsim::Amplifier& a) { a.CloseAfterBytes = 1 << 20; });
    ASSERT_TRUE(amp.started) << amp.error;
    TempDir dir;
    const size_t size = 20u << 20;
    const UploadRun run = Upload(amp.Params(dir.File("fw.bin", size)));
    EXPECT_EQ(run.result, TUploadResult::SendFailed);
    ASSERT_EQ(run.lines.size(), 8u);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(run.lines[6], match,
        std::regex("Sending failed after ([0-9]+) of 20971520 bytes: "
                   "the amplifier closed the connection\\.")))
        << run.lines[6];
    EXPECT_GE(std::stoull(match[1]), uint64_t { 1 } << 20);
    EXPECT_EQ(run.lines[7], "Disconnected from " + amp.Endpoint() + ".");
    EXPECT_FALSE(Contains(run.lines, "Reply timeout!"));
}

TEST(Upload, AmplifierTakingNoDataStopsAfterTheStallLimit)
{
    ScriptedAmp amp([](int connection, std::shared_future<void> finished) {
        ScriptedAmp::ReadLine(connection);
        ScriptedAmp::Write(connection, "V2\n");
        ScriptedAmp::ReadLine(connection);
        ScriptedAmp::Write(connection, "FILE_UPLOAD_START\n");
        finished.wait(); // and never reads the data
    });
    TempDir dir;
    auto params = amp.Params(dir.File("fw.bin", 16u << 20));
    params.StallTimeoutMs = 300;
    const auto started = std::chrono::steady_clock::now();
    const UploadRun run = Upload(params);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    EXPECT_EQ(run.result, TUploadResult::SendFailed);
    ASSERT_EQ(run.lines.size(), 8u);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(run.lines[6], match,
        std::regex("Sending failed after ([0-9]+) of 16777216 bytes: "
                   "the amplifier took no data for 0\\.3 s\\.")))
        << run.lines[6];
    EXPECT_LT(std::stoull(match[1]), 16u << 20);
}

TEST(Upload, SlowReadingAmplifierStillGetsEveryByte)
{
    SimulatedAmp amp([](ampsim::Amplifier& a) { a.ReadBytesPerSecond = 1 << 20; });
    ASSERT_TRUE(amp.started) << amp.error;
    TempDir dir;
    // Kept small: the simulator's shrunken receive window leaves the kernel sending in probes.
    const std::string file = dir.File("fw.bin", 256u << 10);
    auto params = amp.Params(file);
    params.StallTimeoutMs = 2000;
    params.ReplyTimeoutMs = 5000;
    const UploadRun run = Upload(params);
    EXPECT_EQ(run.result, TUploadResult::Done);
    EXPECT_TRUE(Contains(run.lines, "Disconnected from " + amp.Endpoint() + "."));
    const auto uploads = amp.sim->Uploads();
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].Received, 256u << 10);
    EXPECT_EQ(uploads[0].Checksum, ChecksumOf(file));
}

TEST(Upload, DataLeftInTheConnectionIsNotReportedAsSent)
{
    // Small enough for the kernel to take it all at once; the amplifier never reads it.
    ScriptedAmp amp([](int connection, std::shared_future<void> finished) {
        ScriptedAmp::ReadLine(connection);
        ScriptedAmp::Write(connection, "V2\n");
        ScriptedAmp::ReadLine(connection);
        ScriptedAmp::Write(connection, "FILE_UPLOAD_START\n");
        finished.wait();
    });
    TempDir dir;
    auto params = amp.Params(dir.File("fw.bin", 1u << 20));
    params.StallTimeoutMs = 300;
    const UploadRun run = Upload(params);
    EXPECT_EQ(run.result, TUploadResult::SendFailed);
    ASSERT_EQ(run.lines.size(), 8u);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(run.lines[6], match,
        std::regex("Sending failed after ([0-9]+) of 1048576 bytes: "
                   "the amplifier took no data for 0\\.3 s\\.")))
        << run.lines[6];
    EXPECT_LT(std::stoull(match[1]), 1u << 20);
}

TEST(Upload, SourcesThatAreNoRegularFileAreRefusedBeforeOpening)
{
    SimulatedAmp amp;
    ASSERT_TRUE(amp.started) << amp.error;
    TempDir dir;
    const std::string fifo = dir.path + "/fifo.bin";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& source : { fifo, std::string("/dev/zero"), dir.path }) {
        // Opening the FIFO for reading would wait for a writer: run it where a hang fails the test.
        auto running = std::async(std::launch::async, [&] { return Upload(amp.Params(source)); });
        if (running.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            UniqueFd writer(open(fifo.c_str(), O_WRONLY | O_NONBLOCK)); // releases a blocked reader
            FAIL() << source << " blocked the upload";
        }
        const UploadRun run = running.get();
        EXPECT_EQ(run.result, TUploadResult::Refused) << source;
        EXPECT_EQ(run.lines,
            std::vector<std::string> { "File " + source
                + " is not a regular file (a folder, a device or a pipe) and cannot be uploaded." });
    }
    EXPECT_EQ(amp.sim->Connections(), 0u);
}

TEST(Upload, NameWithABlankUploads)
{
    SimulatedAmp amp;
    ASSERT_TRUE(amp.started) << amp.error;
    TempDir dir;
    const UploadRun run = Upload(amp.Params(dir.File("my fw.bin", 300)));
    EXPECT_EQ(run.result, TUploadResult::Done);
    EXPECT_TRUE(Contains(run.lines, "$$$FILE_UPLOAD:0000012c:/tmp/my fw.bin"));
    const auto uploads = amp.sim->Uploads();
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].TargetPath, "/tmp/my fw.bin");
    EXPECT_TRUE(uploads[0].Complete);
}

TEST(Upload, AmplifierClosingBeforeTheVersionReplyIsNoReply)
{
    ScriptedAmp amp([](int connection, std::shared_future<void>) { ScriptedAmp::ReadLine(connection); });
    TempDir dir;
    auto params = amp.Params(dir.File("fw.bin", 10));
    params.ReplyTimeoutMs = 5000;
    const auto started = std::chrono::steady_clock::now();
    const UploadRun run = Upload(params);
    // The close ends the wait; the time-out does not have to pass.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2500));
    EXPECT_EQ(run.result, TUploadResult::NoReply);
    ASSERT_EQ(run.lines.size(), 5u);
    EXPECT_EQ(run.lines[2], "$$$VER?");
    EXPECT_EQ(run.lines[3], "Reply timeout!");
    EXPECT_EQ(run.lines[4], "Disconnected from 127.0.0.1:" + std::to_string(amp.port) + ".");
}

// The file is changed by the amplifier's side once the announcement arrived, i.e. after its size
// was taken and before its data is read.
class ChangedFile : public ::testing::TestWithParam<std::pair<size_t, size_t>> { };

TEST_P(ChangedFile, IsAFailureNeverAShortOrPaddedUpload)
{
    const auto [announced, changedTo] = GetParam();
    TempDir dir;
    const std::string file = dir.File("fw.bin", announced);
    std::promise<uint64_t> received;
    ScriptedAmp amp([&](int connection, std::shared_future<void> finished) {
        ScriptedAmp::ReadLine(connection);
        ScriptedAmp::Write(connection, "V2\n");
        ScriptedAmp::ReadLine(connection);
        fs::resize_file(file, changedTo);
        ScriptedAmp::Write(connection, "FILE_UPLOAD_START\n");
        received.set_value(ScriptedAmp::Drain(connection, announced));
        finished.wait();
    });
    const UploadRun run = Upload(amp.Params(file));
    EXPECT_EQ(run.result, TUploadResult::ReadFailed);
    ASSERT_EQ(run.lines.size(), 8u);
    EXPECT_EQ(run.lines[6],
        "File " + file + " changed size while it was sent (now " + (changedTo > announced ? "more" : "fewer")
            + " than " + std::to_string(announced) + " bytes); the upload is incomplete.");
    EXPECT_FALSE(Contains(run.lines, "Sending done."));
    EXPECT_LT(ReportedWithin(received), announced);
}

INSTANTIATE_TEST_SUITE_P(GrowsOrShrinks, ChangedFile,
    ::testing::Values(std::pair<size_t, size_t> { 1000, 2000 }, std::pair<size_t, size_t> { 200000, 300000 },
        std::pair<size_t, size_t> { 200000, 100000 }, std::pair<size_t, size_t> { 1000, 0 }));

// A stop at each step ends the exchange at once, closes the connection and logs where it stopped.
struct StopCase {
    const char* name;
    const char* line; // logged where it stopped
};

class StopAtEachStep : public ::testing::TestWithParam<StopCase> { };

TEST_P(StopAtEachStep, EndsPromptlyAndSaysWhere)
{
    const StopCase c = GetParam();
    const std::string step = c.name;
    // The data case sends more than the connection's buffers hold, so the upload waits for room.
    const size_t size = step == "Data" ? 32u << 20 : 1u << 20;
    std::promise<uint64_t> received;
    ScriptedAmp amp([&](int connection, std::shared_future<void> finished) {
        ScriptedAmp::ReadLine(connection);
        if (step != "Version")
            ScriptedAmp::Write(connection, "V2\n");
        ScriptedAmp::ReadLine(connection);
        if (step != "Version" && step != "Announcement")
            ScriptedAmp::Write(connection, "FILE_UPLOAD_START\n");
        // Data: never read, so the sender waits for room; final reply: read all, never answer.
        received.set_value(step == "Final" ? ScriptedAmp::Drain(connection, size) : 0);
        finished.wait();
    });
    TempDir dir;
    auto params = amp.Params(dir.File("fw.bin", size));
    params.ReplyTimeoutMs = 20000;
    params.StallTimeoutMs = 20000;
    TUploadStop stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(step == "Final" ? 1000 : 300));
        stop.Request();
    });
    const auto started = std::chrono::steady_clock::now();
    const UploadRun run = Upload(params, &stop);
    const auto took = std::chrono::steady_clock::now() - started;
    stopper.join();
    amp.Finish();
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_EQ(run.result, TUploadResult::Stopped);
    ASSERT_GE(run.lines.size(), 2u);
    EXPECT_EQ(run.lines[run.lines.size() - 2].rfind(c.line, 0), 0u) << run.lines[run.lines.size() - 2];
    EXPECT_EQ(run.lines.back(), "Disconnected from 127.0.0.1:" + std::to_string(amp.port) + ".");
    EXPECT_EQ(Contains(run.lines, "Sending done."), step == "Final");
    if (step == "Data") {
        EXPECT_LT(run.outcome.Sent, size);
    }
}

INSTANTIATE_TEST_SUITE_P(Steps, StopAtEachStep,
    ::testing::Values(StopCase { "Version", "Stopped while waiting for the version reply." },
        StopCase { "Announcement", "Stopped while waiting for the reply to the announcement." },
        StopCase { "Data", "Stopped after " },
        StopCase { "Final", "Stopped while waiting for the final reply." }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Upload, StopWhileConnectingEndsWithinTheConnectTimeOut)
{
    // A listener whose backlog is full leaves further connects unanswered.
    UniqueFd listener(::socket(AF_INET, SOCK_STREAM, 0));
    const sockaddr_in address = LoopbackAddress(0);
    ASSERT_EQ(bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener.get(), 0), 0);
    const sockaddr_in target = LoopbackAddress(LocalPortOf(listener.get()));
    std::vector<UniqueFd> fillers;
    for (int i = 0; i < 2; ++i) {
        fillers.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        connect(fillers.back().get(), reinterpret_cast<const sockaddr*>(&target), sizeof target);
    }
    TempDir dir;
    TUploadParams params;
    params.Address = "127.0.0.1";
    params.Port = LocalPortOf(listener.get());
    params.SourcePath = dir.File("fw.bin", 10);
    TUploadStop stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        stop.Request();
    });
    const UploadRun run = Upload(params, &stop);
    stopper.join();
    EXPECT_EQ(run.result, TUploadResult::Stopped);
    EXPECT_EQ(run.lines.back(), "Stopped while connecting to 127.0.0.1:" + std::to_string(params.Port) + ".");
}
