// The eq command's three-stage pipeline on its own: every block passes each stage once and in
// order, a slot is refilled only after the writer is done with it, and a failure in any stage
// stops the others and comes back to the caller. Built under ThreadSanitizer in CI, which also
// reports a race on the slots or on the pipeline's own state.
#include "block_pipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// A stream of `blocks` blocks; block b holds 1 + b % 7 frames, each frame the value 1000 * b + f.
struct stream {
    size_t slots, blocks;
    std::vector<std::vector<long>> ring = std::vector<std::vector<long>>(slots);
    size_t next_read = 0;
    std::vector<size_t> processed; // block numbers, in the order processed
    std::vector<long> out;         // the samples as written
    std::atomic<size_t> written{0};
    bool overran = false; // a slot refilled before its block was written

    static size_t frames_of(size_t b) { return 1 + b % 7; }

    cli::pipeline_stages stages() {
        cli::pipeline_stages s;
        s.read = [this](size_t slot) -> size_t {
            const size_t b = next_read;
            if (b == blocks)
                return 0;
            overran |= slot != b % slots || b - written.load() >= slots;
            ring[slot].assign(frames_of(b), 0);
            for (size_t f = 0; f < frames_of(b); ++f)
                ring[slot][f] = static_cast<long>(1000 * b + f);
            ++next_read;
            return frames_of(b);
        };
        s.process = [this](size_t slot, size_t frames) {
            EXPECT_EQ(frames, ring[slot].size());
            processed.push_back(static_cast<size_t>(ring[slot][0] / 1000));
            for (auto &v : ring[slot])
                v = -v;
        };
        s.write = [this](size_t slot, size_t frames) {
            out.insert(out.end(), ring[slot].begin(),
                       ring[slot].begin() + static_cast<long>(frames));
            ++written;
        };
        return s;
    }
};

TEST(Pipeline, EveryBlockPassesEachStageOnceInOrder) {
    struct {
        size_t slots, blocks;
    } const cases[] = {{1, 0}, {1, 1}, {1, 40}, {2, 3}, {4, 1}, {4, 4}, {4, 5}, {4, 500}, {8, 77}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.slots) + " slots, " + std::to_string(c.blocks) + " blocks");
        stream s{c.slots, c.blocks};
        const size_t total = cli::run_pipeline(c.slots, s.stages());
        std::vector<long> want;
        std::vector<size_t> order;
        for (size_t b = 0; b < c.blocks; ++b) {
            order.push_back(b);
            for (size_t f = 0; f < stream::frames_of(b); ++f)
                want.push_back(-static_cast<long>(1000 * b + f));
        }
        EXPECT_EQ(total, want.size());
        EXPECT_EQ(s.processed, order);
        EXPECT_EQ(s.out, want);
        EXPECT_FALSE(s.overran);
    }
}

TEST(Pipeline, AFailingStageStopsTheOthersAndIsRethrown) {
    enum stage { reading, processing, writing };
    struct {
        stage where;
        size_t at_block;
    } const cases[] = {{reading, 0},    {reading, 9}, {processing, 0},
                       {processing, 9}, {writing, 0}, {writing, 9}};
    constexpr size_t k_slots = 3, k_blocks = 1000;
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.where) + " fails at block " + std::to_string(c.at_block));
        stream s{k_slots, k_blocks};
        cli::pipeline_stages st = s.stages();
        size_t seen = 0;
        auto fail_at = [&](size_t b) {
            if (b == c.at_block)
                throw std::runtime_error("stage failed at " + std::to_string(b));
        };
        const auto read = st.read;
        const auto process = st.process;
        const auto write = st.write;
        if (c.where == reading)
            st.read = [&](size_t slot) {
                fail_at(s.next_read);
                return read(slot);
            };
        if (c.where == processing)
            st.process = [&](size_t slot, size_t n) {
                fail_at(seen++);
                process(slot, n);
            };
        if (c.where == writing)
            st.write = [&](size_t slot, size_t n) {
                fail_at(s.written.load());
                write(slot, n);
            };
        try {
            cli::run_pipeline(k_slots, st);
            ADD_FAILURE() << "no exception";
        } catch (const std::runtime_error &e) {
            EXPECT_EQ(std::string(e.what()), "stage failed at " + std::to_string(c.at_block));
        }
        // Blocks before the failure went through; nothing after it was written, and the reader
        // stopped within a ring's length of the writer.
        if (c.where == writing)
            EXPECT_EQ(s.written.load(), c.at_block);
        else
            EXPECT_LE(s.written.load(), c.at_block);
        EXPECT_LE(s.next_read, s.written.load() + k_slots);
        EXPECT_FALSE(s.overran);
    }
}

} // namespace
