// The program's own cost: exchanges against a peer that answers at once, whole
// uploads against the in-process simulator, and the receive loop's empty poll.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <new>

#include "handheld.h"
#include "link/link.h"
#include "midi/rtmidi_binding.h"
#include "platform/console.h"
#include "seam.h"
#include "transfer/multiboot.h"
#include "transfer/receive.h"
#include "transfer/upload.h"

// Every heap allocation in the process, so the benchmarks can report them. (GCC takes
// the malloc/free pair below for a mismatch with the operator it replaces.)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
static std::atomic<std::size_t> allocations{0};
void* operator new(std::size_t size) {
    ++allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

// A peer that answers every packet at once with a ready-made 14-byte answer.
struct InstantPeer {
    Bytes answer = {0xF0, 0x7E, 0x00, 0x07, 0x02, 0x00, 0x04, 0x00, 0x01, 0x02, 0x03, 0x04, 0x00, 0xF7};
    std::uint8_t lastNumber = 0;
    void bind(Link& link) {
        link.midi.send = [this](const Bytes& m) { lastNumber = m[5]; };
        link.midi.poll = [this](Bytes& m) {
            m = answer;
            m[5] = lastNumber;
        };
    }
};

template <typename Exchange>
void runExchanges(benchmark::State& state, Exchange exchange) {
    Link link;
    InstantPeer peer;
    peer.bind(link);
    exchange(link);  // the first exchange sizes the buffers
    const std::size_t before = allocations;
    for (auto _ : state) exchange(link);
    state.counters["allocs_per_exchange"] = benchmark::Counter(
        double(allocations - before) / double(state.iterations()));
}

void BM_exchangeByte(benchmark::State& state) {
    runExchanges(state, [](Link& link) { benchmark::DoNotOptimize(exchangeByte(link, 0xA5)); });
}
void BM_exchangeWord(benchmark::State& state) {
    runExchanges(state,
                 [](Link& link) { benchmark::DoNotOptimize(exchangeWord(link, 0x80FF0102)); });
}
void BM_sendBlock(benchmark::State& state) {
    runExchanges(state, [](Link& link) { sendBlock(link, 1, 0x80000000, 3, 0xFFFFFFFF); });
}

constexpr std::uint32_t kImageSize = wire::multiboot::kImageSize;

// A link wired to the in-process simulated handheld, no pauses, a console nobody sees,
// and a 256 KiB image.
struct SimulatedRun {
    Handheld handheld;
    Link link;
    std::ostringstream out;
    std::istringstream in{"\n"};
    Console console{&in, &out, &out, {}};
    struct : Progress {
        void moved(std::uint32_t, std::uint32_t) override {}
    } progress;
    Bytes image = Bytes(kImageSize);
    explicit SimulatedRun(HandheldConfig config = {}, std::uint32_t bankEndPolls = kReceiveIdlePolls)
        : handheld(std::move(config)), link(bankEndPolls) {
        bindHandheld(link.midi, handheld);
        for (std::uint32_t i = 0; i < kImageSize; ++i) image[i] = static_cast<std::uint8_t>(i * 37);
    }
    ImageView view() const { return {image.data(), kImageSize}; }
};

void BM_uploadBank25_256KiB(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        SimulatedRun run;
        state.ResumeTiming();
        uploadBank25(run.link, run.view(), run.progress);
    }
}

void BM_multiboot_256KiB(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        SimulatedRun run;
        state.ResumeTiming();
        uploadGbaMultiboot(run.link, run.view(), run.progress);
        if (!run.handheld.gba().accepted()) state.SkipWithError("the console rejected the image");
    }
}

// A 32 KiB receive from the in-process handheld into a file: the program's cost per
// byte, one write to the operating system each. The idle limit is cut short so the
// silence at the end does not dominate.
void BM_receive_32KiB(benchmark::State& state) {
    HandheldConfig config;
    config.bank.resize(32768);
    for (std::size_t i = 0; i < config.bank.size(); ++i) config.bank[i] = static_cast<std::uint8_t>(i * 37);
    char name[] = "/tmp/tpmidi-bench-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd >= 0) ::close(fd);
    for (auto _ : state) {
        state.PauseTiming();
        SimulatedRun run(config, 1000);
        state.ResumeTiming();
        receiveFile(run.link, name, run.progress);
    }
    ::unlink(name);
}

// The part of a multiboot spent in the checksum and the encryption.
void BM_multibootChecksumAndEncryption(benchmark::State& state) {
    Bytes image(kImageSize);
    for (std::uint32_t i = 0; i < kImageSize; ++i) image[i] = static_cast<std::uint8_t>(i * 37);
    for (auto _ : state) {
        std::uint32_t crc = wire::multiboot::kCrcStart;
        std::uint32_t seed = multibootSeed(0x5A);
        std::uint32_t sink = 0;
        for (std::uint32_t offset = 0xC0; offset < kImageSize; offset += 4) {
            std::uint32_t w;
            std::memcpy(&w, &image[offset], 4);
            crc = multibootCrcStep(crc, w);
            seed = advanceMultibootSeed(seed);
            sink ^= encryptMultibootWord(w, seed, offset);
        }
        benchmark::DoNotOptimize(crc);
        benchmark::DoNotOptimize(sink);
    }
}

// One poll of an empty input, as the receive loop does it between bytes.
void BM_emptyPoll_seam(benchmark::State& state) {
    Link link;
    link.midi.poll = [](Bytes& m) { m.clear(); };
    // The look around every so many empty polls: a read of the clock, and now and
    // then a look for the ports.
    link.midi.missingPort = [] { return std::string(); };
    for (auto _ : state) {
        benchmark::DoNotOptimize(pollMessage(link).data());
    }
}

// The same through a real RtMidiIn object; the idle limit is 2^29 of these.
void BM_emptyPoll_RtMidiIn(benchmark::State& state) {
    Link link;
    bindRtMidi(link.midi);
    try {
        link.midi.create();
    } catch (const MidiFailure& e) {
        state.SkipWithError((std::string("no MIDI input: ") + e.what()).c_str());
        return;
    }
    link.midi.missingPort = nullptr;
    for (auto _ : state) {
        benchmark::DoNotOptimize(pollMessage(link).data());
    }
    link.midi.destroy();
    state.counters["idle_limit_s"] = benchmark::Counter(
        double(state.iterations()) / kReceiveIdlePolls,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK(BM_exchangeByte);
BENCHMARK(BM_exchangeWord);
BENCHMARK(BM_sendBlock);
BENCHMARK(BM_uploadBank25_256KiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_multiboot_256KiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_receive_32KiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_multibootChecksumAndEncryption)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_emptyPoll_seam);
BENCHMARK(BM_emptyPoll_RtMidiIn);
BENCHMARK_MAIN();
