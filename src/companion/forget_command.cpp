#include "companion/forget_command.h"

#include <cstdio>
#include <optional>

#include "app/exit_status.h"
#include "companion/table_output.h"
#include "platform/engine_lock.h"
#include "retention/forget.h"

namespace tessel {
namespace {

struct Rule {
    const char* option;
    int RetentionPolicy::*count;
    const char* help;
};
const Rule kRules[] = {
    {"keep-last", &RetentionPolicy::last, "最新の N 回を残す"},
    {"keep-daily", &RetentionPolicy::daily, "バックアップのあった最近の N 日について、各日の最後の回を残す"},
    {"keep-weekly", &RetentionPolicy::weekly, "同じく N 週 (ISO 週、月曜始まり) の各週の最後の回を残す"},
    {"keep-monthly", &RetentionPolicy::monthly, "同じく N か月の各月の最後の回を残す"},
    {"keep-yearly", &RetentionPolicy::yearly, "同じく N 年の各年の最後の回を残す"},
};

RetentionPolicy PolicyOf(const Args& a) {
    RetentionPolicy policy;
    for (const Rule& r : kRules) {
        const std::optional<std::string> text = a.value(r.option);
        if (!text) continue;
        std::optional<long long> n = StrictCount(*text, 0, 2147483647);
        if (!n) throw UsageError(std::string("--") + r.option + " には 0 以上の整数を指定してください: " + *text);
        policy.*(r.count) = static_cast<int>(*n);
    }
    return policy;
}

std::string Reasons(const ForgetRun& r, bool codes) {
    std::string out;
    for (KeepReason k : r.reasons) {
        if (!out.empty()) out += codes ? "," : "・";
        out += codes ? ReasonCode(k) : ReasonText(k);
    }
    return out;
}

void PrintJson(const ForgetResult& result, bool dryRun, bool ok) {
    std::printf("{\"dry_run\": %s, \"runs\": [", dryRun ? "true" : "false");
    bool first = true;
    for (const ForgetRun& r : result.runs) {
        std::printf("%s\n  {\"run\": %lld, \"title\": %s, \"kind\": %s, \"started\": %s, \"keep\": %s, \"reasons\": [",
                    first ? "" : ",", static_cast<long long>(r.run), JsonString(r.title).c_str(),
                    JsonString(r.kind).c_str(), r.started.empty() ? "null" : JsonString(r.started).c_str(),
                    r.kept() ? "true" : "false");
        for (std::size_t i = 0; i < r.reasons.size(); ++i)
            std::printf("%s\"%s\"", i ? ", " : "", std::string(ReasonCode(r.reasons[i])).c_str());
        std::printf("]}");
        first = false;
    }
    std::printf("%s], \"runs_removed\": %lld, \"versions_removed\": %lld, \"versions_released\": %lld, "
                "\"bytes_freed\": %llu, \"ok\": %s}\n",
                first ? "" : "\n", static_cast<long long>(result.runsRemoved),
                static_cast<long long>(result.versionsRemoved), static_cast<long long>(result.versionsReleased),
                static_cast<unsigned long long>(result.bytesFreed), ok ? "true" : "false");
}

void PrintText(const ForgetResult& result) {
    for (const ForgetRun& r : result.runs)
        std::printf("%s\t%lld\t%s\t%s\t%s\n", r.kept() ? "keep" : "remove", static_cast<long long>(r.run),
                    r.started.c_str(), TsvCell(r.title).c_str(), Reasons(r, true).c_str());
    std::printf("runs_removed\t%lld\nversions_removed\t%lld\nversions_released\t%lld\nbytes_freed\t%llu\n",
                static_cast<long long>(result.runsRemoved), static_cast<long long>(result.versionsRemoved),
                static_cast<long long>(result.versionsReleased), static_cast<unsigned long long>(result.bytesFreed));
}

}  // namespace

CommandDef ForgetCommandDef() {
    CommandDef def{"forget",
                     "--keep-last N | --keep-daily N | --keep-weekly N | --keep-monthly N | --keep-yearly N ... [--dry-run]",
                     "古いバックアップを整理し、残す回に要らない版のコピーを削除して容量を空ける",
                     {}};
    for (const Rule& r : kRules) def.options.push_back({r.option, 0, "N", r.help});
    def.options.push_back({"dry-run", 0, nullptr, "残す回・削除する回と空く容量を表示するだけで、何も変えない"});
    return def;
}

void CheckForget(const Args& a, const GlobalOptions&) {
    if (PolicyOf(a).empty())
        throw UsageError("forget には --keep-last, --keep-daily, --keep-weekly, --keep-monthly, --keep-yearly の"
                         "どれかに 1 以上を指定してください");
}

int Forget(CommandContext& c, const Args& a) {
    ForgetOptions options;
    options.policy = PolicyOf(a);
    options.dryRun = a.has("dry-run");
    EngineLock lock(c.state.dataFolder);
    if (!lock.lockWithin(c.options.waitSeconds)) {
        c.state.ui.showMessage(kEngineBusy + "\n" + c.state.dataFolder);
        return kExitBusy;
    }
    const ForgetResult result = ForgetRuns(c.state, options);
    lock.unlock();
    c.ui.endProgress();
    const bool ok = !result.refused && result.failed == 0;
    if (c.options.json) PrintJson(result, options.dryRun, ok);
    else PrintText(result);
    CheckOutput(stdout);
    return ok ? kExitOk : kExitFailed;
}

}  // namespace tessel
