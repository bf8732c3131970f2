#include "companion/commands.h"

#include <cstdio>
#include <ctime>
#include <map>
#include <optional>
#include <set>

#include "backup/automatic_backup.h"
#include "backup/backup_runs.h"
#include "companion/table_output.h"
#include "platform/engine_lock.h"
#include "platform/file_times.h"
#include "platform/paths.h"
#include "registration/registration_rules.h"
#include "registration/registrations.h"
#include "restore/restore_directory.h"
#include "restore/restore_messages.h"
#include "restore/restore_run.h"
#include "restore/restore_to.h"
#include "restore/verify.h"

namespace tessel {

using namespace registration_text;

namespace {

// A command's arguments: positional words, flags and flags with a value.
struct Args {
    std::vector<std::string> words;
    std::map<std::string, std::string> values;
    std::set<std::string> flags;

    bool has(const std::string& f) const { return flags.count(f) > 0; }
    std::optional<std::string> value(const std::string& f) const {
        auto it = values.find(f);
        if (it == values.end()) return std::nullopt;
        return it->second;
    }
};

Args Parse(const std::vector<std::string>& raw, const std::set<std::string>& valueFlags, const std::set<std::string>& flags,
           size_t minWords, size_t maxWords) {
    Args a;
    bool onlyWords = false;
    for (size_t i = 0; i < raw.size(); ++i) {
        const std::string& w = raw[i];
        if (!onlyWords && w == "--") {
            onlyWords = true;
        } else if (!onlyWords && w.rfind("--", 0) == 0) {
            if (valueFlags.count(w)) {
                if (i + 1 >= raw.size()) throw UsageError{w + " には値が必要です"};
                a.values[w] = raw[++i];
            } else if (flags.count(w)) {
                a.flags.insert(w);
            } else {
                throw UsageError{"不明なオプションです: " + w};
            }
        } else {
            a.words.push_back(w);
        }
    }
    if (a.words.size() < minWords) throw UsageError{"引数が足りません"};
    if (a.words.size() > maxWords) throw UsageError{"余分な引数があります: " + a.words[maxWords]};
    return a;
}

int Number(const std::string& text, const std::string& flag) {
    try {
        size_t used = 0;
        long v = std::stol(text, &used);
        if (used == text.size() && v >= 0 && v <= 2147483647) return static_cast<int>(v);
    } catch (...) {
    }
    throw UsageError{flag + " には 0 以上の整数を指定してください: " + text};
}

std::optional<std::string> Opt(Statement& s, int c) { return s.optText(c); }
std::optional<std::string> OptNum(Statement& s, int c) {
    if (s.isNull(c)) return std::nullopt;
    return std::to_string(s.int64(c));
}

// Streams a query's rows into a table; numeric marks the integer columns.
void Table(Statement& s, const CompanionOptions& o, const std::vector<std::string>& columns, const std::vector<bool>& numeric) {
    TableOutput out(stdout, o.json, columns);
    out.numeric(numeric);
    while (s.step()) {
        std::vector<std::optional<std::string>> cells;
        for (size_t c = 0; c < columns.size(); ++c)
            cells.push_back(numeric[c] ? OptNum(s, static_cast<int>(c)) : Opt(s, static_cast<int>(c)));
        out.row(cells);
    }
}

// Runs an engine while holding the data folder's engine lock, waiting for
// it as the options say.
bool WithEngineLock(SharedState& state, const CompanionOptions& o, const std::function<void()>& work) {
    EngineLock lock(state.dataFolder);
    if (!lock.lockWithin(o.waitSeconds)) {
        state.ui.showMessage(kEngineBusy + "\n" + state.dataFolder);
        return false;
    }
    work();
    return true;
}

// A backup succeeded when nothing failed and nothing else needed saying.
bool Succeeded(const BackupResult& r) { return !r.failed() && r.warnings == 0; }

void PrintResult(const CompanionOptions& o, const std::string& key, int value, bool ok) {
    if (o.json)
        std::printf("{\"%s\": %d, \"ok\": %s}\n", key.c_str(), value, ok ? "true" : "false");
    else
        std::printf("%s\t%d\n", key.c_str(), value);
}

const char* const kVersionColumns =
    "SELECT BKPNO, DIRNO, LVL, DIR, FILENM, FUPDAYD, FUPTIMED, FSIZE, FVERNO, PVERNO, KBN1, CHK1, FUPDATE, FUPTIME "
    "FROM FILEKANRI ";

// The recorded last-write time as ISO 8601 local time with its offset and
// the 100-ns fraction the catalog holds, e.g. 2024-05-01T09:30:00.1234567+09:00.
std::optional<std::string> IsoLastWrite(Statement& s, int high, int low) {
    if (s.isNull(high) || s.isNull(low)) return std::nullopt;
    const std::int64_t ticks = FileTime{s.int32(high), s.int32(low)}.ticks();
    const UnixTime u = UnixFromLocalTicks(ticks);
    const std::int64_t local = ticks / 10000000 - 11644473600LL;
    const std::int64_t offset = local - u.seconds;
    std::time_t t = static_cast<std::time_t>(local);
    std::tm tm {};
    if (!gmtime_r(&t, &tm)) return std::nullopt;
    char buf[96];
    const long long minutes = (offset < 0 ? -offset : offset) / 60;
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%07lld%c%02lld:%02lld", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<long long>(ticks % 10000000), offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return std::string(buf);
}

int Dirs(SharedState& state, const CompanionOptions& o, const Args&) {
    Statement s = state.db().prepare(
        "SELECT DIRNO, DIR, BKPDIR, BKPDIR.KBN, NAIYOU, BIKOU, ABKP, CHK1, CHK2 FROM BKPDIR "
        "LEFT JOIN KBNDEF ON KBNDEF.KBN = 2 AND KBNDEF.ID = BKPDIR.KBN WHERE DIRNO <> 0 ORDER BY DIRNO");
    Table(s, o, {"dirno", "source", "destination", "kind", "kind_name", "remark", "auto", "initial", "subdirs"},
          {true, false, false, false, false, false, false, false, false});
    return kOk;
}

int Runs(SharedState& state, const CompanionOptions& o, const Args&) {
    Statement s = state.db().prepare(
        "SELECT BKPNO, BKPNAME, BKPNAME.KBN, NAIYOU, DAY1, TIME1 FROM BKPNAME "
        "LEFT JOIN KBNDEF ON KBNDEF.KBN = 1 AND KBNDEF.ID = BKPNAME.KBN ORDER BY BKPNO");
    Table(s, o, {"run", "title", "kind", "kind_name", "date", "time"}, {true, false, false, false, false, false});
    return kOk;
}

int Versions(SharedState& state, const CompanionOptions& o, const Args& a) {
    int selectors = (a.value("--run") ? 1 : 0) + (a.value("--dir") ? 1 : 0) + (a.has("--latest") ? 1 : 0);
    if (selectors > 1) throw UsageError{"--run, --dir, --latest はどれか一つだけ指定できます"};
    if (a.has("--errors") && !a.has("--latest")) throw UsageError{"--errors は --latest と共に指定します"};
    std::optional<Statement> s;
    Connection& db = state.db();
    if (auto run = a.value("--run")) {
        s.emplace(db.prepare(std::string(kVersionColumns) + "WHERE BKPNO = ?1 ORDER BY BKPNO, DIRNO, FILENM, LVL"));
        s->bind(1, Number(*run, "--run"));
    } else if (auto dir = a.value("--dir")) {
        s.emplace(db.prepare(std::string(kVersionColumns) + "WHERE DIRNO = ?1 ORDER BY DIRNO, FILENM, LVL"));
        s->bind(1, Number(*dir, "--dir"));
    } else if (a.has("--latest")) {
        s.emplace(db.prepare(std::string(kVersionColumns) + "WHERE CHK1 <> '0'" + (a.has("--errors") ? " AND KBN1 >= '8'" : "") +
                             " ORDER BY DIRNO, FILENM, LVL"));
    } else {
        s.emplace(db.prepare(std::string(kVersionColumns) + "ORDER BY BKPNO, DIRNO, FILENM, LVL"));
    }
    // JSON also carries the last-write time as ISO 8601 beside the display texts.
    std::vector<std::string> columns = {"run",  "dirno",        "level",           "directory", "name",   "date",
                                        "time", "size",         "file_version",    "product_version", "state", "latest"};
    std::vector<bool> numeric = {true, true, true, false, false, false, false, true, false, false, false, false};
    if (o.json) {
        columns.push_back("modified");
        numeric.push_back(false);
    }
    TableOutput out(stdout, o.json, columns);
    out.numeric(numeric);
    while (s->step()) {
        std::vector<std::optional<std::string>> cells;
        for (int c = 0; c < 12; ++c) cells.push_back(numeric[c] ? OptNum(*s, c) : Opt(*s, c));
        if (o.json) cells.push_back(IsoLastWrite(*s, 12, 13));
        out.row(cells);
    }
    return kOk;
}

int Backup(SharedState& state, ConsoleUi& ui, const CompanionOptions& o, const Args& a) {
    std::string title = a.value("--title").value_or("");
    if (title.empty()) {
        state.ui.showMessage("バックアップタイトルを入力してください");
        return kFailed;
    }
    BackupRunResult run;
    if (!WithEngineLock(state, o, [&] {
            run = RunTitledBackup(state, RealBackupEngine(), title, a.has("--info") ? "9" : "1", std::time(nullptr));
        }))
        return kFailed;
    ui.endProgress();
    const bool ok = Succeeded(run.result);
    PrintResult(o, "run", run.runNumber, ok);
    return ok ? kOk : kFailed;
}

int Auto(SharedState& state, ConsoleUi& ui, const CompanionOptions& o, const Args&) {
    BackupRunResult run;
    if (!WithEngineLock(state, o, [&] { run = AutomaticBackup(state, RealBackupEngine(), std::time(nullptr)); }))
        return kFailed;
    ui.endProgress();
    const bool ok = Succeeded(run.result);
    PrintResult(o, "run", run.runNumber, ok);
    return ok ? kOk : kFailed;
}

// restore --run N --to DIR [PATH...]: the state at run N of the given files
// or folders (all registered directories when none is given) below DIR,
// each at DIR + its absolute source path. Exit status 1 when any failed.
int RestoreTo(SharedState& state, ConsoleUi& ui, const CompanionOptions& o, const Args& a, int run) {
    RestoreToOptions options;
    options.target = *a.value("--to");
    options.overwrite = a.has("--overwrite");
    if (options.target.empty()) throw UsageError{"--to には復元先のフォルダーを指定してください"};
    if (options.target[0] != kSep) options.target = JoinPath(CurrentDirectory(), options.target);
    for (const std::string& p : a.words)
        if (p.empty() || p[0] != kSep) throw UsageError{"復元するファイルやフォルダーは絶対パスで指定してください: " + p};
    RestoreToSummary summary;
    if (!WithEngineLock(state, o, [&] {
            summary = RestoreRunTo(state, run, a.words, options,
                                   [&](RestoreToOutcome outcome, const std::string& source, const std::string& target,
                                       const std::string& detail) {
                                       switch (outcome) {
                                       case RestoreToOutcome::kRestored:
                                           state.ui.setStatus("FILEREV", restore_text::kRestored + source + restore_text::kFrom + target);
                                           break;
                                       case RestoreToOutcome::kExists:
                                           std::fprintf(stderr, "既にあるファイルは置き換えません (--overwrite で置き換えます): %s\n",
                                                        target.c_str());
                                           break;
                                       case RestoreToOutcome::kNoCopy:
                                           std::fprintf(stderr, "この版にはコピーがありません: %s\n", source.c_str());
                                           break;
                                       case RestoreToOutcome::kFailed:
                                           state.ui.showMessage(restore_text::kRestoreFailedMessage + target + "\n" +
                                                                restore_text::kRc + detail);
                                           break;
                                       }
                                   });
        }))
        return kFailed;
    ui.endProgress();
    if (o.json)
        std::printf("{\"run\": %d, \"restored\": %d, \"skipped\": %d, \"failed\": %d, \"ok\": %s}\n", run,
                    summary.restored, summary.skipped, summary.failed, summary.failed == 0 ? "true" : "false");
    else
        std::printf("restored\t%d\nskipped\t%d\nfailed\t%d\n", summary.restored, summary.skipped, summary.failed);
    return summary.failed == 0 ? kOk : kFailed;
}

int Restore(SharedState& state, ConsoleUi& ui, const CompanionOptions& o, const Args& a) {
    auto runText = a.value("--run");
    if (!runText) throw UsageError{"restore には --run N が必要です"};
    int run = Number(*runText, "--run");
    const bool to = a.value("--to").has_value();
    if (!to && (a.has("--overwrite") || !a.words.empty())) throw UsageError{"ファイルを選んで復元するには --to DIR を指定します"};
    if (to && a.has("--test")) throw UsageError{"--test と --to は同時に指定できません"};
    if (!RestorableRun(state.db(), run)) {
        state.ui.showMessage("復元できるバックアップ番号ではありません: " + std::to_string(run));
        return kFailed;
    }
    if (to) return RestoreTo(state, ui, o, a, run);
    RestoreResult result;
    if (!WithEngineLock(state, o, [&] {
            result = RestoreAllDirectories(state, run, a.has("--test"),
                                           [](SharedState& s, int dirNo, int runNumber, const RestoreOptions& options) {
                                               return RestoreDirectory(s, dirNo, runNumber, options);
                                           });
        }))
        return kFailed;
    ui.endProgress();
    const bool ok = result.failed == 0;
    PrintResult(o, "run", run, ok);
    return ok ? kOk : kFailed;
}

// verify [--dir N] [--run N] [--mark]: one line per version without a
// usable copy (and per unreadable bulk archive); exit status 1 if any.
int Verify(SharedState& state, ConsoleUi& ui, const CompanionOptions& o, const Args& a) {
    VerifyOptions options;
    if (auto dir = a.value("--dir")) options.dirNo = Number(*dir, "--dir");
    if (auto run = a.value("--run")) options.runNumber = Number(*run, "--run");
    options.mark = a.has("--mark");
    VerifySummary summary;
    std::optional<TableOutput> out;
    if (!WithEngineLock(state, o, [&] {
            out.emplace(stdout, o.json, std::vector<std::string>{"run", "level", "directory", "name", "problem"});
            out->numeric({true, true, false, false, false});
            summary = VerifyBackups(state, options, [&](const VerifyProblem& p) {
                out->row({std::to_string(p.run), std::to_string(p.level), p.directory, p.name, p.what});
            });
            out.reset();
        }))
        return kFailed;
    ui.endProgress();
    if (options.mark && summary.marked > 0)
        std::fprintf(stderr, "次のバックアップで保存し直すファイル: %d\n", summary.marked);
    return summary.problems == 0 ? kOk : kFailed;
}

int Report(SharedState& state, const CompanionOptions& o, const Args&) {
    Statement s = state.db().prepare("SELECT ID, TEXT FROM RSTRLIST ORDER BY ID");
    if (o.json) {
        Table(s, o, {"id", "text"}, {true, false});
    } else {
        while (s.step()) std::printf("%s\n", s.text(1).c_str());
    }
    return kOk;
}

int Prefix(SharedState& state, const CompanionOptions& o, const Args& a) {
    Connection& db = state.db();
    std::optional<Registration> row = FindRegistrationByNumber(db, 0);
    if (a.words.empty()) {
        if (a.has("--compress") || a.has("--plain")) throw UsageError{"圧縮指定にはプレフィックスを指定します"};
        TableOutput out(stdout, o.json, {"prefix", "compression"});
        if (row) out.row({row->dir, row->abkp});
        return kOk;
    }
    if (a.has("--compress") && a.has("--plain")) throw UsageError{"--compress と --plain は同時に指定できません"};
    if (a.words[0].empty()) throw UsageError{"プレフィックスが空です"};
    const std::string prefix = StoredPrefix(a.words[0], CurrentDirectory());
    std::string flag = a.has("--compress") ? "1" : a.has("--plain") ? "0" : row && row->abkp ? *row->abkp : "0";
    if (StorePrefix(db, state.ui, prefix, flag) != PrefixOutcome::kStored) return kFailed;
    TableOutput out(stdout, o.json, {"prefix", "compression"});
    out.row({prefix, flag});
    return kOk;
}

std::string KindCode(const std::string& name) {
    if (std::optional<std::string> code = KindCodeOfName(name)) return *code;
    throw UsageError{"--kind は normal, no-initial, bulk, info のいずれかです: " + name};
}

int Register(SharedState& state, const CompanionOptions& o, const Args& a) {
    Connection& db = state.db();
    std::string kind = KindCode(a.value("--kind").value_or("normal"));
    const std::string cwd = CurrentDirectory();
    const std::string& typedSource = a.words[0];
    std::string dest, derived;
    if (auto typed = a.value("--dest")) {
        dest = *typed;
    } else if (std::optional<Registration> prefix = FindRegistrationByNumber(db, 0);
               prefix && prefix->dir && !typedSource.empty()) {
        // A derived destination is never shared: the next free name is
        // taken, and the user is told.
        const std::string source = StoredDirectory(typedSource, cwd);
        derived = DestinationFor(source, *prefix->dir);
        dest = FreeDestination(db, derived, source);
    }
    if (CheckRegistration(db, state.ui, typedSource, dest, cwd) != RegistrationCheck::kAllowed) return kFailed;
    const RegistrationFields f{StoredDirectory(typedSource, cwd), StoredDirectory(dest, cwd), kind,
                               a.value("--remark").value_or(""), AutoBackupCode(!a.has("--no-auto")),
                               SubdirCode(a.has("--subdirs"))};
    if (!derived.empty() && f.dest != derived)
        state.ui.showMessage(" バックアップ先 " + derived + " はすでに他の登録で使われているため、" + f.dest + " にします。");
    std::optional<Registration> existing = FindRegistrationByDir(db, f.dir);
    if (existing && existing->chk1 == "1" && existing->dest != f.dest) state.ui.showMessage(kDestinationChangeWarning);
    const StoredRegistration stored = StoreRegistration(db, state.ui, f);
    if (!stored.destinationReady) return kFailed;
    PrintResult(o, "dirno", static_cast<int>(stored.dirNo), true);
    return kOk;
}

int Unregister(SharedState& state, const CompanionOptions& o, const Args& a) {
    Connection& db = state.db();
    const std::string& typed = a.words[0];
    const std::string cwd = CurrentDirectory();
    const std::optional<Registration> row = FindRegistrationBySource(db, typed, cwd);
    if (!RemoveRegistration(db, state.ui, row, typed, cwd)) return kFailed;
    PrintResult(o, "dirno", static_cast<int>(row->dirNo), true);
    return kOk;
}

int Initial(SharedState& state, ConsoleUi& ui, const CompanionOptions& o, const Args&) {
    std::vector<std::int64_t> started;
    BackupResult result;
    if (!WithEngineLock(state, o, [&] {
            result = RunInitialBackups(state, [&](SharedState& s, const BackupCall& c, const BackupOptions& options) {
                started.push_back(c.dirNo);
                return RealBackupEngine()(s, c, options);
            });
        }))
        return kFailed;
    ui.endProgress();
    const bool ok = Succeeded(result);
    if (o.json) {
        std::printf("{\"directories\": [");
        for (size_t i = 0; i < started.size(); ++i) std::printf("%s%lld", i ? ", " : "", static_cast<long long>(started[i]));
        std::printf("], \"ok\": %s}\n", ok ? "true" : "false");
    } else {
        for (std::int64_t d : started) std::printf("dirno\t%lld\n", static_cast<long long>(d));
    }
    std::fprintf(stderr, "%s\n", kDone);
    return ok ? kOk : kFailed;
}

}  // namespace

int RunCommand(SharedState& state, ConsoleUi& ui, const CompanionOptions& o, const std::string& command,
               const std::vector<std::string>& raw) {
    const std::set<std::string> none;
    if (command == "dirs") return Dirs(state, o, Parse(raw, none, none, 0, 0));
    if (command == "runs") return Runs(state, o, Parse(raw, none, none, 0, 0));
    if (command == "versions") return Versions(state, o, Parse(raw, {"--run", "--dir"}, {"--latest", "--errors"}, 0, 0));
    if (command == "backup") return Backup(state, ui, o, Parse(raw, {"--title"}, {"--info"}, 0, 0));
    if (command == "auto") return Auto(state, ui, o, Parse(raw, none, none, 0, 0));
    if (command == "restore")
        return Restore(state, ui, o, Parse(raw, {"--run", "--to"}, {"--test", "--overwrite"}, 0, 100000));
    if (command == "report") return Report(state, o, Parse(raw, none, none, 0, 0));
    if (command == "verify") return Verify(state, ui, o, Parse(raw, {"--dir", "--run"}, {"--mark"}, 0, 0));
    if (command == "prefix") return Prefix(state, o, Parse(raw, none, {"--compress", "--plain"}, 0, 1));
    if (command == "register")
        return Register(state, o, Parse(raw, {"--dest", "--kind", "--remark"}, {"--subdirs", "--no-auto"}, 1, 1));
    if (command == "unregister") return Unregister(state, o, Parse(raw, none, none, 1, 1));
    if (command == "initial") return Initial(state, ui, o, Parse(raw, none, none, 0, 0));
    throw UsageError{"不明なコマンドです: " + command};
}

}  // namespace tessel
