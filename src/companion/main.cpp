// tessel-backupctl: the backup manager's engines from the command line, on
// the same data folder as the windows (the current directory, or --data).
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/catalog_upgrade.h"
#include "companion/commands.h"
#include "companion/console_ui.h"
#include "platform/engine_lock.h"
#include "platform/paths.h"
#include "app/startup.h"

namespace {

const char* const kUsageText =
    "使い方: tessel-backupctl [--data DIR] [--json] [--wait SECONDS] [--yes] COMMAND [ARGS]\n"
    "\n"
    "  dirs                          登録ディレクトリーの一覧\n"
    "  runs                          バックアップの一覧\n"
    "  versions [--run N | --dir N | --latest [--errors]]\n"
    "                                記録されたファイルの版\n"
    "  backup --title T [--info]     登録ディレクトリーすべてのバックアップ\n"
    "  auto                          自動バックアップ\n"
    "  restore --run N [--test]      バックアップ N の状態への復元\n"
    "  restore --run N --to DIR [--overwrite] [PATH...]\n"
    "                                バックアップ N の状態のファイルを DIR の下へ復元 (元の場所は変えない)\n"
    "  verify [--dir N] [--run N] [--mark]\n"
    "                                コピーが揃って読めるかを確かめる (--mark: 次のバックアップで保存し直す)\n"
    "  report                        最後の復元の結果\n"
    "  prefix [DIR [--compress|--plain]]\n"
    "                                バックアップ先プレフィックスと圧縮指定\n"
    "  register SRC [--dest D] [--kind normal|no-initial|bulk|info] [--subdirs] [--no-auto] [--remark R]\n"
    "  unregister SRC                初期バックアップ前の登録の取消\n"
    "  initial                       初期バックアップ\n"
    "\n"
    "  --data DIR      データフォルダー (既定: カレントディレクトリー)\n"
    "  --json          一覧を JSON で出力\n"
    "  --wait SECONDS  他のバックアップ・復元の終了を待つ秒数 (既定: 0)\n"
    "  --yes           確認にはすべて「はい」と答える (既定: いいえ)\n"
    "\n"
    "終了状態: 0 成功、1 失敗あり、2 コマンドラインの誤り\n";

int Usage(const std::string& problem) {
    if (!problem.empty()) std::fprintf(stderr, "tessel-backupctl: %s\n\n", problem.c_str());
    std::fputs(kUsageText, stderr);
    return tessel::kUsage;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tessel;
    CompanionOptions options;
    std::string dataFolder;
    bool yes = false;
    int i = 1;
    for (; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsageText, stdout);
            return kOk;
        }
        if (a.rfind("--", 0) != 0) break;
        if (a == "--json") {
            options.json = true;
        } else if (a == "--yes") {
            yes = true;
        } else if (a == "--data" || a == "--wait") {
            if (i + 1 >= argc) return Usage(a + " には値が必要です");
            std::string v = argv[++i];
            if (a == "--data") {
                dataFolder = v;
            } else {
                char* end = nullptr;
                options.waitSeconds = std::strtod(v.c_str(), &end);
                if (v.empty() || *end || options.waitSeconds < 0) return Usage("--wait には 0 以上の秒数を指定してください: " + v);
            }
        } else {
            return Usage("不明なオプションです: " + a);
        }
    }
    if (i >= argc) return Usage("コマンドがありません");
    std::string command = argv[i++];
    std::vector<std::string> args(argv + i, argv + argc);

    ConsoleUi ui(yes, isatty(STDERR_FILENO) == 1);
    RealSystemServices system;
    SharedState state(ui, system);
    if (dataFolder.empty()) dataFolder = CurrentDirectory();
    if (!IsDirectory(dataFolder)) {
        ui.showMessage("データフォルダーが見つかりません: " + dataFolder);
        return kFailed;
    }
    try {
        switch (OpenDataFolder(state, dataFolder)) {
        case StartupOutcome::Ready:
            break;
        case StartupOutcome::NeedsUpgrade: {
            EngineLock lock(dataFolder);
            if (!lock.lockWithin(options.waitSeconds)) {
                ui.showMessage(kEngineBusy + "\n" + dataFolder);
                return kFailed;
            }
            if (!UpgradeCatalog(state)) return kFailed;
            break;
        }
        default:
            return kFailed;
        }
        return RunCommand(state, ui, options, command, args);
    } catch (const UsageError& e) {
        return Usage(e.what());
    } catch (const std::exception& e) {
        ui.showMessage(e.what());
        return kFailed;
    }
}
