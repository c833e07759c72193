// tarnix end to end with the real ffmpeg, each output checked against the input or properties
// worked out here, never against tarnix's own output.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

struct Result {
    int code = -1;
    std::string out, err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }
bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::vector<std::string> listDir(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Starts a program with stdout and stderr going to files; `env` entries are added.
pid_t start(const std::vector<std::string>& argv, const std::string& outFile, const std::string& errFile,
            const std::vector<std::string>& env = {}) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        // As from an interactive shell, whatever the test runner's own signal set-up.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::signal(SIGINT, SIG_DFL);
        ::signal(SIGTERM, SIG_DFL);
        for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
        ::dup2(::open("/dev/null", O_RDONLY), 0);
        ::dup2(::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        ::dup2(::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

int waitFor(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class Work {
public:
    Work() {
        char pattern[] = "/tmp/tarnix-e2e-XXXXXX";
        mDir = ::mkdtemp(pattern);
    }
    ~Work() {
        if (!::testing::Test::HasFailure()) std::system(("rm -rf '" + mDir + "'").c_str());
        else std::fprintf(stderr, "kept %s for inspection\n", mDir.c_str());
    }
    std::string path(const std::string& name) const { return mDir + "/" + name; }
    const std::string& dir() const { return mDir; }

    Result run(const std::vector<std::string>& argv, const std::vector<std::string>& env = {}) const {
        const std::string out = path(".stdout"), err = path(".stderr");
        Result r;
        r.code = waitFor(start(argv, out, err, env));
        r.out = slurp(out), r.err = slurp(err);
        ::unlink(out.c_str()), ::unlink(err.c_str());
        return r;
    }
    Result tarnix(std::vector<std::string> args, const std::vector<std::string>& env = {}) const {
        args.insert(args.begin(), TARNIX_PROGRAM);
        return run(args, env);
    }
    void ffmpeg(std::vector<std::string> args) const {
        args.insert(args.begin(), {"ffmpeg", "-v", "error", "-nostdin", "-y"});
        const Result r = run(args);
        ASSERT_EQ(r.code, 0) << r.err;
    }
    // Every frame of a file's first video stream as raw pixels, or its first audio stream.
    std::string decode(const std::string& file, const std::string& pixelFormat = "bgra") const {
        const Result r = run({"ffmpeg", "-v", "error", "-nostdin", "-i", file, "-map", pixelFormat.empty() ? "0:a:0" : "0:v:0",
                              "-f", pixelFormat.empty() ? "s16le" : "rawvideo", "-pix_fmt",
                              pixelFormat.empty() ? "s16" : pixelFormat, "pipe:1"});
        EXPECT_EQ(r.code, 0) << r.err;
        return r.out;
    }
    // The first frame of each (file, pixel format) as raw pixels, through one ffmpeg.
    std::vector<std::string> decodeFirstFrames(const std::vector<std::pair<std::string, std::string>>& files) const {
        std::vector<std::string> args;
        for (const auto& f : files) args.insert(args.end(), {"-i", f.first});
        for (size_t i = 0; i < files.size(); ++i)
            args.insert(args.end(), {"-map", std::to_string(i) + ":v:0", "-frames:v", "1", "-f", "rawvideo", "-pix_fmt",
                                     files[i].second, path(".frame" + std::to_string(i))});
        ffmpeg(args);
        std::vector<std::string> frames;
        for (size_t i = 0; i < files.size(); ++i) frames.push_back(slurp(path(".frame" + std::to_string(i))));
        return frames;
    }
    // ffprobe's facts about the first stream of a type, frames counted by decoding.
    std::map<std::string, std::string> probe(const std::string& file, const std::string& type = "v") const {
        const Result r = run({"ffprobe", "-v", "error", "-count_frames", "-select_streams", type + ":0", "-show_entries",
                              "stream=codec_name,width,height,pix_fmt,r_frame_rate,nb_read_frames,duration", "-of",
                              "default=noprint_wrappers=1", file});
        std::map<std::string, std::string> facts;
        std::istringstream lines(r.out);
        for (std::string line; std::getline(lines, line);)
            if (size_t eq = line.find('='); eq != std::string::npos) facts[line.substr(0, eq)] = line.substr(eq + 1);
        return facts;
    }
    // 10 frames of 64 x 48 at 25 fps kept: the count, the size and the rate.
    void expectClipShape(const std::string& file) const {
        auto facts = probe(file);
        EXPECT_EQ(facts["nb_read_frames"] + " " + facts["width"] + "x" + facts["height"] + " " + facts["r_frame_rate"],
                  "10 64x48 25/1") << file;
    }

private:
    std::string mDir;
};

constexpr size_t kFrame8 = 64 * 48 * 4;

std::string frameOf(const std::string& frames, size_t index) { return frames.substr(index * kFrame8, kFrame8); }

int maxDifference(const std::string& a, const std::string& b) {
    int worst = 0;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) worst = std::max(worst, std::abs(int(uint8_t(a[i])) - int(uint8_t(b[i]))));
    return worst;
}

// Neighbour differences (colour only) of a frame of `out` over those of `in`: what a blur left.
double detailKept(const std::string& out, const std::string& in) {
    const auto detail = [](const std::string& bgra) {
        double sum = 0;
        auto at = [&](int x, int y, int c) { return double(uint8_t(bgra[size_t((y * 64 + x) * 4 + c)])); };
        for (int y = 0; y + 1 < 48; ++y)
            for (int x = 0; x + 1 < 64; ++x)
                for (int c = 0; c < 3; ++c) sum += std::fabs(at(x + 1, y, c) - at(x, y, c)) + std::fabs(at(x, y + 1, c) - at(x, y, c));
        return sum;
    };
    return detail(out) / detail(in);
}

// One lossless 64 x 48 clip of 10 frames at 25 fps with moving detail and a tone, made once.
class Tarnix : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        shared = new Work;
        shared->ffmpeg({"-f", "lavfi", "-i", "testsrc2=s=64x48:r=25:d=0.4", "-f", "lavfi", "-i", "sine=f=440:d=0.4", "-c:v",
                        "ffv1", "-pix_fmt", "bgr0", "-c:a", "flac", clip()});
        clipFrames = shared->decode(clip());
    }
    static void TearDownTestSuite() { delete shared; }
    static std::string clip() { return shared->path("clip.mkv"); }
    static inline Work* shared = nullptr;
    static inline std::string clipFrames;
    Work w;
};

}  // namespace

TEST_F(Tarnix, EveryStageOffGivesTheInputBackAndStagesOnChangeIt) {
    ASSERT_EQ(clipFrames.size(), 10 * kFrame8);
    Result r = w.tarnix({"render", clip(), w.path("out.mkv")});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "10 frames of 64x48 at 25 fps")) << r.err;
    const std::string out = w.decode(w.path("out.mkv"));
    EXPECT_TRUE(out == clipFrames) << "largest difference " << maxDifference(out, clipFrames);
    EXPECT_EQ(w.probe(w.path("out.mkv"))["codec_name"], "ffv1");
    w.expectClipShape(w.path("out.mkv"));
    // Audio is copied: the same samples.
    const std::string tone = w.decode(clip(), "");
    EXPECT_GT(tone.size(), 10000u);
    EXPECT_TRUE(tone == w.decode(w.path("out.mkv"), ""));
    // The other channel order the plug-in takes gives the same picture.
    r = w.tarnix({"render", clip(), w.path("argb.mkv"), "--order", "argb", "-q"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(clipFrames == w.decode(w.path("argb.mkv")));

    r = w.tarnix({"render", clip(), w.path("graded.mkv"), "--set", "doContrast=on", "--set", "contrastAmount=60", "-q"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "") << "--quiet";
    const std::string graded = w.decode(w.path("graded.mkv"));
    ASSERT_EQ(graded.size(), clipFrames.size());
    EXPECT_GT(maxDifference(clipFrames, graded), 40);
}

// H.264 and ProRes keep the count, size, rate and audio. A saturated red and a skin tone from
// an RGB source come back: the YUV matrix written must be the one tagged (the wrong one moves
// the red's green by about 18; levels and lossy coding alone by up to 4).
TEST_F(Tarnix, YuvOutputsKeepTheClipsShapeAudioAndColours) {
    w.ffmpeg({"-f", "lavfi", "-i", "color=c=0xC8102E:s=32x48:r=25:d=0.4", "-f", "lavfi", "-i",
              "color=c=0xE0AC8C:s=32x48:r=25:d=0.4", "-f", "lavfi", "-i", "sine=f=440:d=0.4", "-filter_complex",
              "[0:v][1:v]hstack", "-c:v", "ffv1", "-pix_fmt", "bgr0", "-c:a", "flac", w.path("patches.mkv")});
    for (const char* name : {"patches.mp4", "patches.mov"}) {
        const Result r = w.tarnix({"render", w.path("patches.mkv"), w.path(name), "-q"});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(w.probe(w.path(name))["codec_name"], contains(name, "mp4") ? "h264" : "prores");
        EXPECT_EQ(w.probe(w.path(name))["pix_fmt"], contains(name, "mp4") ? "yuv420p" : "yuv422p10le");
        w.expectClipShape(w.path(name));
        EXPECT_NEAR(std::atof(w.probe(w.path(name), "a")["duration"].c_str()), 0.4, 0.06) << name << " has no audio";
        const std::string rgb = w.decode(w.path(name), "rgb24");
        ASSERT_GE(rgb.size(), size_t(64 * 48 * 3));
        // Inside each patch, away from the seam that 4:2:0 chroma blurs.
        for (const auto& [x, colour] : {std::pair<int, uint32_t>{8, 0xC8102E}, {56, 0xE0AC8C}})
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(int(uint8_t(rgb[size_t((24 * 64 + x) * 3 + c)])), int(colour >> (16 - 8 * c)) & 0xFF, 5)
                    << name << " x " << x << " channel " << c;
    }
}

TEST_F(Tarnix, KeyedFadeRunsFromUntouchedToStronglyBlurred) {
    const Result r = w.tarnix({"render", clip(), w.path("fade.mkv"), "--set", "doFading=on", "--set", "fadeAmount=0@0,200@9", "-q"});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string out = w.decode(w.path("fade.mkv"));
    ASSERT_EQ(out.size(), clipFrames.size());
    // Radius 0 lays the frame over itself at 30 %: only rounding may show.
    EXPECT_LE(maxDifference(frameOf(clipFrames, 0), frameOf(out, 0)), 2);
    // Radius 200 flattens a 64 x 48 frame; laid over at 70 %, about 30 % of the detail is left.
    const double kept = detailKept(frameOf(out, 9), frameOf(clipFrames, 9));
    EXPECT_LT(kept, 0.4);
    EXPECT_GT(kept, 0.2);
    // In between, the blur grows with the keys.
    EXPECT_LT(kept, detailKept(frameOf(out, 3), frameOf(clipFrames, 3)));
}

TEST_F(Tarnix, TheSameCommandTwiceGivesTheSameFrames) {
    for (const char* name : {"a.mkv", "b.mkv"}) {
        const Result r = w.tarnix({"render", clip(), w.path(name), "--preset", "worn-print", "-q"});
        ASSERT_EQ(r.code, 0) << r.err;
    }
    const std::string a = w.decode(w.path("a.mkv"));
    ASSERT_EQ(a.size(), 10 * kFrame8);
    EXPECT_TRUE(a == w.decode(w.path("b.mkv")));
    EXPECT_FALSE(a == clipFrames);
}

TEST_F(Tarnix, GrainFollowsFrameNumbersSoTheStartFrameMovesIt) {
    // Ten identical frames: what differs between output frames comes from the frame number.
    w.ffmpeg({"-i", clip(), "-vf", "select=eq(n\\,0),loop=9:1:0", "-an", "-c:v", "ffv1", "-pix_fmt", "bgr0", w.path("static.mkv")});
    for (const char* start : {"0", "3"}) {
        const Result r = w.tarnix({"render", w.path("static.mkv"), w.path(std::string("from") + start + ".mkv"), "--set",
                                   "doGrain=on", "--start-frame", start, "-q"});
        ASSERT_EQ(r.code, 0) << r.err;
    }
    const std::string a = w.decode(w.path("from0.mkv")), b = w.decode(w.path("from3.mkv"));
    ASSERT_EQ(a.size(), 10 * kFrame8);
    ASSERT_EQ(b.size(), a.size());
    EXPECT_FALSE(frameOf(a, 0) == frameOf(b, 0)) << "another start frame, other grain";
    EXPECT_FALSE(frameOf(a, 0) == frameOf(a, 1)) << "each frame its own grain";
    for (size_t i = 0; i + 3 < 10; ++i) EXPECT_TRUE(frameOf(b, i) == frameOf(a, i + 3)) << "frame number " << i + 3;
}

// One instance renders a run's frames in order, so a scratch keeps its column (moving at most
// a pixel per frame here) until its lifetime runs out or it drifts off: with three of them and
// duration 240, new ones appear at most twice in nine frames. Scratches born every frame would
// appear three times a frame; ones that never saw the frame change would never move. On flat
// grey every changed column is a scratch's.
TEST_F(Tarnix, ScratchesLiveAcrossTheFramesOfARender) {
    constexpr int kWidth = 240, kHeight = 24;
    constexpr size_t kFrame = size_t(kWidth) * kHeight * 4;
    w.ffmpeg({"-f", "lavfi", "-i", "color=c=0x707070:s=240x24:r=25:d=0.48", "-c:v", "ffv1", "-pix_fmt", "bgr0", w.path("grey.mkv")});
    const Result r = w.tarnix({"render", w.path("grey.mkv"), w.path("scratched.mkv"), "--start-frame", "1000", "--frames",
                               "1001:1010", "--set", "doBasicScratch=on", "--set", "basicScratchNumber=3", "--set",
                               "basicScratchDuration=240", "-q"});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string in = w.decode(w.path("grey.mkv")), out = w.decode(w.path("scratched.mkv"));
    ASSERT_EQ(out.size(), 10 * kFrame);
    ASSERT_EQ(in.size(), 12 * kFrame);
    std::vector<std::set<int>> columns(10);
    for (size_t f = 0; f < 10; ++f)
        for (size_t i = 0; i < kFrame; ++i)
            if (out[f * kFrame + i] != in[(f + 1) * kFrame + i]) columns[f].insert(int(i / 4 % kWidth));
    int appeared = 0;
    for (size_t f = 0; f < 10; ++f) {
        EXPECT_FALSE(columns[f].empty()) << "frame " << 1001 + f << " has no scratch";
        const auto isNew = [&](int c) {
            const auto near = columns[f - 1].lower_bound(c - 2);
            return near == columns[f - 1].end() || *near > c + 2;
        };
        // A scratch one or two columns wide that was nowhere near a frame before.
        for (int c : columns[f])
            if (f > 0 && isNew(c) && !(columns[f].count(c - 1) && isNew(c - 1))) ++appeared;
    }
    EXPECT_LE(appeared, 2) << "scratches that appeared out of nowhere";
    EXPECT_NE(columns.front(), columns.back()) << "the scratches never moved";
}

TEST_F(Tarnix, AnInterruptedOrKilledRenderLeavesNoOutput) {
    // An input that never ends, so the signal lands mid-render: a fifo a fresh generator feeds
    // for each reader.
    const std::string live = w.path("live.y4m");
    ASSERT_EQ(::mkfifo(live.c_str(), 0644), 0);
    const pid_t feeder = start({"setsid", "sh", "-c", "while :; do ffmpeg -v quiet -nostdin -f lavfi -i testsrc2=s=160x120:r=25 "
                                "-f yuv4mpegpipe -y '" + live + "'; done"}, "/dev/null", "/dev/null");
    struct StopFeeder {
        pid_t pid;
        ~StopFeeder() { ::kill(-pid, SIGKILL), waitFor(pid); }  // the loop and its ffmpeg
    } stopFeeder{feeder};
    const auto stopRender = [&](const std::string& tag, int sig) {
        const pid_t pid = start({TARNIX_PROGRAM, "render", live, w.path("out.mkv"), "--preset", "worn-print"},
                                w.path(tag + ".out"), w.path(tag + ".err"));
        // Wait until it writes its temporary file: the render is under way.
        bool underWay = false;
        for (int i = 0; i < 3000 && !underWay; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10)))
            for (const std::string& n : listDir(w.dir())) underWay = underWay || n.rfind(".out.mkv.tarnix-", 0) == 0;
        EXPECT_TRUE(underWay) << "no temporary output appeared";
        ::kill(pid, sig);
        EXPECT_EQ(waitFor(pid), 128 + sig) << slurp(w.path(tag + ".err"));
        EXPECT_FALSE(exists(w.path("out.mkv")));
    };
    for (int sig : {SIGINT, SIGTERM}) {
        stopRender("stopped", sig);
        EXPECT_TRUE(contains(slurp(w.path("stopped.err")), "interrupted")) << slurp(w.path("stopped.err"));
        for (const std::string& n : listDir(w.dir())) EXPECT_EQ(n.find("tarnix-"), std::string::npos) << n << " left behind";
    }
    stopRender("killed", SIGKILL);
    // The next render clears what the killed one left and writes its output.
    const Result r = w.tarnix({"render", clip(), w.path("out.mkv"), "--frames", "0:1", "-q"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(listDir(w.dir()), (std::vector<std::string>{"killed.err", "killed.out", "live.y4m", "out.mkv", "stopped.err", "stopped.out"}));
}

// Each mistake, and each way ffmpeg can fail, gives one line and its exit code. A stand-in
// ffmpeg ahead on PATH fails on cue as the decoder (pipe:1) or encoder (pipe:0).
TEST_F(Tarnix, MistakesGiveOneClearLineAndTheirExitCode) {
    std::ofstream(w.path("taken.mkv")) << "precious";
    std::ofstream(w.path("fake.avx")) << std::string(256, '#');
    std::ofstream(w.path("notes.mkv")) << "not a video";
    const std::string fakes = w.path("fakes"), found = w.run({"sh", "-c", "command -v ffmpeg"}).out;
    const std::string real = "'" + found.substr(0, found.find('\n')) + "'";
    ::mkdir(fakes.c_str(), 0777);
    std::ofstream(fakes + "/ffmpeg") << "#!/bin/sh\ncase \"$FAKE_FFMPEG $*\" in\n"
                                        "decoder-dies*pipe:1) " + real + " \"$@\" | head -c 20000\n"
                                        "  echo '[fake @ 0x1] the drive went away' >&2; kill -9 $$ ;;\n"
                                        "decoder-stalls*pipe:1) " + real + " \"$@\" | head -c 18432; exec sleep 0.2 ;;\n"
                                        "encoder-dies*pipe:0*) head -c 30000 >/dev/null\n"
                                        "  echo '[fake @ 0x1] the disk caught fire' >&2; kill -9 $$ ;;\n"
                                        "esac\nexec " + real + " \"$@\"\n";
    ::chmod((fakes + "/ffmpeg").c_str(), 0755);
    const auto fake = [&](const std::string& role) {
        return std::vector<std::string>{"PATH=" + fakes + ":" + std::getenv("PATH"), "FAKE_FFMPEG=" + role};
    };
    const std::string x = w.path("x.mkv"), d = w.dir();
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string says;
        std::vector<std::string> env = {};
    } cases[] = {
        {{"frobnicate"}, 2, "unknown command \"frobnicate\"; use render, demo, params or presets"},
        {{"render", clip(), x, "--frobnicate"}, 2, "unknown option --frobnicate (tarnix --help lists them)"},
        {{"render", clip(), x, "--preset"}, 2, "--preset needs a value"},
        {{"render", clip(), x, "--crf="}, 2, "--crf needs a value"},
        {{"render", clip(), x, "--quiet=yes"}, 2, "--quiet takes no value"},
        {{"render", clip(), x, "--depth=12"}, 2, "--depth takes 8 or 16"},
        {{"render", clip(), x, "--proxy", "0.5"}, 2, "--proxy takes a factor from 1 to 16 (2 renders at half size)"},
        {{"render", clip(), x, "--start-frame", "ten"}, 2, "--start-frame takes a whole number, not \"ten\""},
        {{"render", clip(), x, "--start-frame", "-2000000000"}, 2, "--start-frame takes a frame number from -1000000000 to 1000000000"},
        {{"render", clip(), x, "--fps", "0"}, 2, "--fps takes a rate such as 24, 23.976 or 30000/1001"},
        {{"render", clip(), x, "--fps", "24"}, 2, "--fps sets the rate of an image sequence, and " + clip() + " is not one"},
        {{"render", clip(), w.path("x.mp4"), "--crf", "52"}, 2, "--crf takes 0 to 51 for H.264 (lower is better)"},
        {{"render", clip(), x, "--codec", "libvpx-vp9", "--crf", "64"}, 2, "--crf takes 0 to 63 for libvpx-vp9 (lower is better)"},
        {{"render", clip(), x, "--codec", "ffv1", "--crf", "20"}, 2,
         "--crf: ffv1 takes no crf; libx264, libx265, libvpx, libvpx-vp9, libaom-av1 and libsvtav1 do"},
        {{"render", clip(), x, "--crf", "20"}, 2, "--crf sets H.264 quality (.mp4 output) or that of a --codec that takes it"},
        {{"render", clip(), x, "--set", "fadeAmout=20"}, 2, "unknown parameter \"fadeAmout\"; closest: fadeAmount (tarnix params lists them all)"},
        {{"render", clip(), x, "--set", "blackNumber=1001"}, 2,
         "blackNumber=1001 is out of range: blackNumber (Dust > Black Dust Amount) takes 0 to 1000"},
        {{"render", clip(), x, "--set", "doGrain=sometimes"}, 2, "doGrain=sometimes: doGrain is a checkbox; use on or off"},
        {{"render", clip(), x, "--preset", "sepia"}, 2,
         "no preset or preset file \"sepia\"; built-in presets: light, worn-print, silent-era, home-movie-8mm, scratched-print"},
        {{"render", clip(), w.path("x.avi")}, 2,
         "cannot tell the format of " + w.path("x.avi") + " from its extension; use .mp4, .mov, .mkv, .png or .tif"},
        {{"render", clip(), w.path("x.png")}, 2,
         w.path("x.png") + " is one image but the input has 10 frames; name a sequence such as out_%04d.png or pick one with --frames N"},
        {{"render", clip(), x, "--frames", "20:30"}, 2, "--frames 20:30 is outside the input, which has frames 0 to about 9"},
        {{"render", clip()}, 2, "render needs INPUT and OUTPUT (tarnix --help)"},
        {{"render", w.path("missing.mkv"), x}, 3, w.path("missing.mkv") + ": no such file"},
        {{"render", w.path("notes.mkv"), x}, 3, "cannot read " + w.path("notes.mkv") + ": Invalid data found when processing input"},
        {{"render", d, x}, 3, d + " is a folder; give a video file, an image or a pattern such as name_%04d.png"},
        {{"render", w.path("none_%04d.png"), x}, 3, w.path("none_%04d.png") + ": no files match the pattern (for example none_0001.png)"},
        {{"render", clip(), w.path("taken.mkv")}, 4, w.path("taken.mkv") + " already exists; add -y to replace it"},
        {{"render", clip(), d}, 4, d + " is a folder; name a file in it, such as " + d + "/out.mkv"},
        // Before any work: ffmpeg is not even looked for.
        {{"render", clip(), w.path("nowhere/x.mkv")}, 4,
         "cannot write " + w.path("nowhere/x.mkv") + ": the folder " + w.path("nowhere") + " does not exist", {"PATH=/nonexistent"}},
        {{"render", clip(), x, "--module", w.path("none.avx")}, 5, "--module " + w.path("none.avx") + ": no such file"},
        {{"params", "--module", w.path("fake.avx")}, 5, "cannot load " + w.path("fake.avx") + ": " + w.path("fake.avx") + ": invalid ELF header"},
        {{"render", clip(), x}, 5, "TARNIX_MODULE=/nonexistent/TarnixAVX2.avx: no such file", {"TARNIX_MODULE=/nonexistent/TarnixAVX2.avx"}},
        {{"render", clip(), x}, 5, "ffmpeg is not installed (tarnix reads and writes media with it); install it with: apt-get install ffmpeg",
         {"PATH=/nonexistent"}},
        {{"render", clip(), x}, 3, "cannot decode " + clip() + ": the drive went away", fake("decoder-dies")},
        {{"render", clip(), x}, 1, "ffmpeg could not write " + x + ": the disk caught fire", fake("encoder-dies")},
        // Matroska takes no raw RGB: ffmpeg's whole message, never the input cut off after it.
        {{"render", clip(), x, "--codec", "rawvideo"}, 1,
         "ffmpeg could not write " + x + ": Raw RGB is not supported Natively in Matroska, you can use AVI or NUT or "
         "If you would like to store it anyway using VFW mode, enable allow_raw_vfw (-allow_raw_vfw 1)", fake("decoder-stalls")},
    };
    for (const Case& c : cases) {
        const Result r = w.tarnix(c.args, c.env);
        EXPECT_EQ(r.code, c.code) << c.args.back() << ": " << r.err;
        EXPECT_EQ(r.err, "tarnix: " + c.says + "\n");
    }
    EXPECT_EQ(listDir(d), (std::vector<std::string>{"fake.avx", "fakes", "notes.mkv", "taken.mkv"})) << "nothing written, nothing left";
    EXPECT_EQ(slurp(w.path("taken.mkv")), "precious");
    const Result r = w.tarnix({"render", clip(), w.path("taken.mkv"), "-y", "-q"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(slurp(w.path("taken.mkv")), "precious");
}

TEST_F(Tarnix, AFullDiskIsReportedAndLeavesNothing) {
    const std::string small = w.path("small");
    ::mkdir(small.c_str(), 0777);
    // Two pages: the clip's lossless render does not fit.
    if (w.run({"mount", "-t", "tmpfs", "-o", "size=8k", "tmpfs", small}).code != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs privileges this run does not have";
    const Result r = w.tarnix({"render", clip(), small + "/out.mkv"});
    const std::vector<std::string> left = listDir(small);
    w.run({"umount", small});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(contains(r.err, "out.mkv: no space left on device")) << r.err;
    EXPECT_TRUE(left.empty()) << left.front();
}

// PNGs of 8 and 16 bits, with and without alpha, through a render with every stage off in
// both orders: 8-bit samples come back as they went, 16-bit ones as round(round(v x 16384 /
// 65535) x 65535 / 16384), within 2.
TEST_F(Tarnix, PngsComeBackWithinTheQuantisationBound) {
    // One pseudo-random 16-bit RGBA picture, every value range touched, written as each kind.
    std::string raw(size_t(40 * 30 * 8), '\0');
    uint32_t state = 12345;
    for (char& b : raw) state = state * 1664525u + 1013904223u, b = char(state >> 24);
    std::ofstream(w.path("in.raw"), std::ios::binary) << raw;
    const std::string kinds[] = {"rgb24", "rgba", "rgb48le", "rgba64le"};  // as raw samples
    std::vector<std::string> make = {"-f", "rawvideo", "-pix_fmt", "rgba64le", "-s", "40x30", "-i", w.path("in.raw")};
    for (const std::string& k : kinds) make.insert(make.end(), {"-pix_fmt", contains(k, "le") ? k.substr(0, k.size() - 2) + "be" : k, w.path(k + ".png")});
    w.ffmpeg(make);
    std::vector<std::pair<std::string, std::string>> files;  // the sources, then the renders
    for (const std::string& k : kinds) files.push_back({w.path(k + ".png"), k});
    for (const std::string& k : kinds)
        for (const std::string order : {"bgra", "argb"}) {
            const std::string out = w.path(order + "-" + k + ".png");
            const Result r = w.tarnix({"render", w.path(k + ".png"), out, "--order=" + order, "-q"});
            ASSERT_EQ(r.code, 0) << r.err;
            // The header's bit depth and colour type: the source's depth and alpha are kept.
            EXPECT_EQ(slurp(out).substr(24, 2), std::string({char(contains(k, "le") ? 16 : 8), char(contains(k, "a") ? 6 : 2)})) << out;
            files.push_back({out, k});
        }
    const std::vector<std::string> frames = w.decodeFirstFrames(files);
    ASSERT_EQ(frames[3], raw) << "the PNG holds the samples as written";
    for (size_t i = 4; i < frames.size(); ++i) {
        const std::string &source = frames[(i - 4) / 2], &back = frames[i];
        SCOPED_TRACE(files[i].first);
        ASSERT_EQ(back.size(), source.size());
        const bool deep = contains(files[i].second, "le");
        int worst = 0;
        for (size_t j = 0; deep && j < source.size(); j += 2) {
            const int v = uint8_t(source[j]) | uint8_t(source[j + 1]) << 8, got = uint8_t(back[j]) | uint8_t(back[j + 1]) << 8;
            const int expected = int(std::floor(std::floor(v * 16384.0 / 65535.0 + 0.5) * 65535.0 / 16384.0 + 0.5));
            ASSERT_EQ(got, expected) << "sample " << j / 2 << " was " << v;
            worst = std::max(worst, std::abs(got - v));
        }
        EXPECT_EQ(worst, deep ? 2 : 0);
        EXPECT_TRUE(deep || back == source);
    }
}

TEST_F(Tarnix, SequencesRangesProxiesAndListings) {
    w.ffmpeg({"-i", clip(), "-frames:v", "5", "-start_number", "1", w.path("shot_%04d.png")});
    // Files 1 to 5 as frames -12 to -8: negative frame numbers reach the plug-in (contrast keyed
    // on from -10), and the output's files keep the input's numbers.
    Result r = w.tarnix({"render", w.path("shot_%04d.png"), w.path("graded_%04d.png"), "--start-frame", "-12", "--frames",
                         "-11:-9", "--set", "doContrast=off@-12,on@-10", "-q"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(listDir(w.dir()), (std::vector<std::string>{"graded_0002.png", "graded_0003.png", "graded_0004.png", "shot_0001.png",
                                                           "shot_0002.png", "shot_0003.png", "shot_0004.png", "shot_0005.png"}));
    EXPECT_TRUE(w.decode(w.path("graded_0002.png")) == w.decode(w.path("shot_0002.png")));
    EXPECT_FALSE(w.decode(w.path("graded_0003.png")) == w.decode(w.path("shot_0003.png")));
    // One frame of a sequence into one image; a proxy renders at half size.
    r = w.tarnix({"render", w.path("shot_%04d.png"), w.path("one.png"), "--frames", "5", "--proxy", "2", "-q"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(w.probe(w.path("one.png"))["width"] + "x" + w.probe(w.path("one.png"))["height"], "32x24");
    r = w.tarnix({"render", w.path("shot_%04d.png"), w.path("two.png"), "--frames", "9:9"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "tarnix: --frames 9:9 is outside the input, which has frames 1 to 5\n");

    r = w.tarnix({"params"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "fadeAmount") && contains(r.out, "Deep Scratches > Color")) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1 + 52 + 2) << "a heading and one line per parameter";
    r = w.tarnix({"presets"});
    for (const char* name : {"light:", "worn-print:", "silent-era:", "home-movie-8mm:", "scratched-print:"})
        EXPECT_TRUE(contains(r.out, name)) << name;
    // Which stages wipe out which, for whoever builds a look of their own.
    EXPECT_TRUE(contains(r.out, "microscratches replace all of that and displacement too")) << r.out;
}

TEST(TarnixMakeDemo, WritesTheClipAndTheContactSheet) {
    Work w;
    // A make above this test (make test) must not hand its job server or flags down.
    const Result r = w.run({"make", "-s", "-C", TARNIX_SOURCE_DIR, "demo", std::string("NATIVE=") + TARNIX_BINARY_DIR,
                            "OUT=" + w.path("demo")},
                           {"MAKEFLAGS=", "MFLAGS=", "MAKELEVEL="});
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, w.path("demo") + "/demo.mp4")) << r.out;
    EXPECT_TRUE(contains(r.out, w.path("demo") + "/demo-contact.png")) << r.out;
    auto video = w.probe(w.path("demo/demo.mp4"));
    EXPECT_EQ(video["width"], "1280") << "before and after side by side";
    EXPECT_EQ(video["nb_read_frames"], "96") << "four seconds, for scratches to be born and die on screen";
    EXPECT_GT(std::atoi(w.probe(w.path("demo/demo-contact.png"))["width"].c_str()), 600);
    EXPECT_EQ(listDir(w.path("demo")), (std::vector<std::string>{"demo-contact.png", "demo.mp4"}));
}
