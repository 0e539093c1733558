// Benchmark of ParseStatusDocument against a plain memchr scan over the same bytes, for the largest legal
// document (36 000 bytes with a 177 x 177 QR matrix) and for a small one. Prints the ratio of the two
// times, as figures to read rather than targets: one parse of the largest document, which arrives at most
// once every two seconds, costs microseconds. Run without arguments it takes a few seconds.
#include <benchmark/benchmark.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "api/status_document.h"
#include "status_documents.h"

namespace {

// A document in a buffer of its own, and where its line feeds are, so that they can be put back after
// each parse (the parse turns them into zero bytes) at the cost of fifteen stores.
struct Sample {
    std::vector<char> buffer;
    std::vector<size_t> feeds;
    size_t size;
};

Sample MakeSample(const std::string& document)
{
    Sample s;
    s.size = document.size();
    s.buffer.assign(document.begin(), document.end());
    s.buffer.push_back('\0');
    for (size_t i = 0; i < document.size(); ++i)
        if (document[i] == '\n') s.feeds.push_back(i);
    return s;
}

Sample& Largest()
{
    static Sample s = MakeSample(LargestDocument());
    return s;
}

Sample& Small()
{
    static Sample s = MakeSample(JoinDocument(IdleDocumentLines()));
    return s;
}

void Parse(benchmark::State& state, Sample& sample)
{
    char* body = sample.buffer.data();
    for (auto _ : state) {
        StatusSnapshot snapshot;
        int accepted = ParseStatusDocument(body, &snapshot);
        benchmark::DoNotOptimize(accepted);
        benchmark::DoNotOptimize(snapshot);
        for (size_t at : sample.feeds) body[at] = '\n';
        benchmark::ClobberMemory();
        if (!accepted) {
            state.SkipWithError("the sample document was rejected");
            break;
        }
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)sample.size);
}

// The baseline: one memchr over all bytes of the document for a byte that does not occur in it.
void Memchr(benchmark::State& state, Sample& sample)
{
    const char* body = sample.buffer.data();
    for (auto _ : state) {
        benchmark::DoNotOptimize(body);
        const void* found = memchr(body, '\x01', sample.size);
        benchmark::DoNotOptimize(found);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)sample.size);
}

void ParseLargest(benchmark::State& state) { Parse(state, Largest()); }
void MemchrLargest(benchmark::State& state) { Memchr(state, Largest()); }
void ParseSmall(benchmark::State& state) { Parse(state, Small()); }
void MemchrSmall(benchmark::State& state) { Memchr(state, Small()); }

// Fifteen short repetitions each, interleaved at random (see main), so that parse and memchr share the
// machine's quiet and busy moments; the ratios use the least CPU time of each, which other work on a
// shared machine can only raise.
double Least(const std::vector<double>& v)
{
    return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end());
}
#define PARSER_BENCHMARK(name) \
    BENCHMARK(name)->MinTime(0.05)->Repetitions(15)->ComputeStatistics("min", Least)->DisplayAggregatesOnly(true)
PARSER_BENCHMARK(ParseLargest);
PARSER_BENCHMARK(MemchrLargest);
PARSER_BENCHMARK(ParseSmall);
PARSER_BENCHMARK(MemchrSmall);

// Reports as usual and keeps each benchmark's least CPU time per iteration for the ratios (or its only
// run's, when repetitions were switched off on the command line).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> nanoseconds;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const std::string& name = run.run_name.function_name;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "min")
                nanoseconds[name] = run.GetAdjustedCPUTime();
            else if (run.run_type == Run::RT_Iteration && run.repetitions <= 1)
                nanoseconds[name] = run.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    std::vector<char*> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);  // an explicit flag on the command line comes later and wins
    argc = (int)args.size();
    argv = args.data();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    struct Pair {
        const char* parse;
        const char* scan;
        size_t bytes;
        const char* note;
    } pairs[] = {
        {"ParseLargest", "MemchrLargest", Largest().size, "(the largest document)"},
        {"ParseSmall", "MemchrSmall", Small().size, "(a small document: the per-call cost dominates)"},
    };
    int missing = 0;
    printf("\n");
    for (const Pair& p : pairs) {
        auto parse = reporter.nanoseconds.find(p.parse);
        auto scan = reporter.nanoseconds.find(p.scan);
        if (parse == reporter.nanoseconds.end() || scan == reporter.nanoseconds.end() || scan->second <= 0) {
            missing = 1;
            continue;
        }
        printf("parse/memchr ratio (%zu bytes): %.2f %s  [parse %.0f ns, memchr %.0f ns, CPU time]\n", p.bytes,
               parse->second / scan->second, p.note, parse->second, scan->second);
    }
    if (missing) printf("(some benchmarks did not run or failed: no ratio for them)\n");
    return 0;
}
