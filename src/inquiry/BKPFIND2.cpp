#include "inquiry/BKPFIND2.h"

#include "inquiry/inquiry_queries.h"

namespace tessel {

BKPFIND2::BKPFIND2(AppContext& context)
    : InquiryWindow(context, {"BKPFIND2",
                              "バックアップ管理(ﾃﾞｨﾚｸﾄﾘｰ別）",
                              inquiry::kDirectoriesQuery,
                              {{"番号", 0},
                               NameColumn("ﾃﾞｨﾚｸﾄﾘｰ", 2700),
                               NameColumn("ﾊﾞｯｸｱｯﾌﾟﾃﾞｨﾚｸﾄﾘｰ", 2500),
                               {"区分", 1600},
                               NameColumn("備考", 1600)},
                              {{"BKPNO", 400, Qt::AlignRight},
                               {"DIRNO", 0, Qt::AlignRight},
                               {"LVL", 400, Qt::AlignRight},
                               {"DIR", 0},
                               NameColumn("FILE", 3900),
                               {"UPDATE", 1600},
                               {"UPTIME", 1250},
                               {"SIZE", 800, Qt::AlignRight},
                               {"FILE LVL", 1000, Qt::AlignRight},
                               {"PGM LVL", 1000, Qt::AlignRight},
                               {"KBN", 450, Qt::AlignRight}}}) {}

std::string BKPFIND2::versionsQuery(bool filtered) const { return inquiry::DirectoryVersionsQuery(filtered); }

}  // namespace tessel
