// Costs of the core's hot paths on the fake platform: the 5 ms poll when nothing changed (it
// runs for the whole life of the program) and a poll that sees a change.
#include <benchmark/benchmark.h>

#include "controller/application.h"
#include "controller/frmMain.h"
#include "platform/fake/fake_platform.h"

namespace {

struct Program {
    vexlo::fake::FakePlatform fp;
    vexlo::Application app {fp.platform};
    Program() {
        fp.installSkin();
        fp.connect(app);
        app.start();
    }
    vexlo::TimerId poll() { return app.Main().Timer1().id(); }
};

void QuietPoll(benchmark::State& state) {
    Program p;
    const vexlo::TimerId timer = p.poll();
    for (auto _ : state) p.app.onTimer(timer);
    benchmark::DoNotOptimize(p.fp.mixer.reads);
}
BENCHMARK(QuietPoll);

void PollThatSeesAChange(benchmark::State& state) {
    Program p;
    const vexlo::TimerId timer = p.poll();
    std::uint32_t level = 0;
    for (auto _ : state) {
        level = (level + 4000) % 65536;
        p.fp.mixer.setMaster(level);
        p.app.onTimer(timer);
    }
}
BENCHMARK(PollThatSeesAChange);

}  // namespace

BENCHMARK_MAIN();
