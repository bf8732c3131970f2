#include "app/program_command_line.h"

#include <getopt.h>

#include <vector>

namespace tessel {

ProgramCommandLine ReadProgramCommandLine(int argc, char** argv) {
    enum { kVersionCode = 0x100 };
    const option options[] = {{"help", no_argument, nullptr, 'h'}, {"version", no_argument, nullptr, kVersionCode}, {nullptr, 0, nullptr, 0}};
    std::vector<char*> args(argv, argv + argc);
    args.push_back(nullptr);
    ProgramCommandLine out;
    opterr = 0;
    optind = 0;
    int code;
    while ((code = getopt_long(argc, args.data(), "+:h", options, nullptr)) != -1) {
        if (code == 'h' && out.request == ProgramRequest::kRun) out.request = ProgramRequest::kHelp;
        else if (code == kVersionCode && out.request == ProgramRequest::kRun) out.request = ProgramRequest::kVersion;
        else if (code == '?') {
            out.request = ProgramRequest::kWrong;
            if (optopt == kVersionCode || optopt == 'h')
                out.problem = std::string(optopt == 'h' ? "--help" : "--version") + " は値をとりません";
            else
                out.problem = std::string("不明なオプションです: ") + (optopt ? std::string("-") + static_cast<char>(optopt) : args[optind - 1]);
            return out;
        }
    }
    if (optind < argc) {
        out.request = ProgramRequest::kWrong;
        out.problem = std::string("引数はとりません (データフォルダーはカレントディレクトリーです): ") + args[optind];
    }
    return out;
}

std::string ProgramHelp() {
    return std::string("使い方: ") + kProgramName + " [-h | --help | --version]\n"
           "\n"
           "Tesselバックアップ管理を、カレントディレクトリーをデータフォルダーとして起動します。\n"
           "カタログ filebkp.mdb と設定ファイル Bkpdef.ini がなければ、同じフォルダーのひな形\n"
           "bkpDEF.mdb と Bkpdef.def から作ります (tessel-backupctl init DIR で用意できます)。\n"
           "メニューからは tessel-backup-start が ~/.local/share/tessel-backup (または $TESSEL_DATA)\n"
           "を用意して、そこで起動します。一つのデータフォルダーで起動できるのは一つだけです。\n"
           "\n"
           "Bkpdef.ini の INITBKP=YES では起動時に自動バックアップを行って終了し、TERMBKP=YES では\n"
           "その後コンピューターの電源を切ります。画面のない環境では QT_QPA_PLATFORM=offscreen で\n"
           "起動します (メッセージは標準エラー出力に出ます)。\n"
           "\n"
           "  -h, --help     この説明を表示\n"
           "  --version      バージョンを表示\n"
           "\n"
           "終了状態:\n"
           "  0  正常に終了した (起動時バックアップではすべて保存できた)\n"
           "  1  失敗あり (起動時バックアップの失敗、使えないデータフォルダーや設定、二つ目の起動)\n"
           "  2  コマンドラインの誤り\n"
           "  3  起動時バックアップを始められなかった: 別のバックアップ・復元・カタログ更新が\n"
           "     データフォルダーを使用中 (10 分待った後)\n";
}

}  // namespace tessel
