#include "inquiry/BKPFIND1.h"

#include "catalog/catalog_rows.h"
#include "inquiry/inquiry_queries.h"

namespace tessel {

BKPFIND1::BKPFIND1(AppContext& context)
    : InquiryWindow(context, {"BKPFIND1",
                              "バックアップ管理(バックアップ別）",
                              kRunListQuery,
                              {{"番号", 0},
                               NameColumn("タイトル", 4300),
                               {"区分", 1800},
                               {"バックアップ日", 1300, Qt::AlignHCenter},
                               {"時間", 1300, Qt::AlignHCenter},
                               {"区分DMY", 0}},
                              {{"BKPNO", 0, Qt::AlignRight},
                               {"DIRNO", 0, Qt::AlignRight},
                               {"LVL", 440, Qt::AlignRight},
                               NameColumn("ﾊﾞｯｸｱｯﾌﾟﾃﾞｨﾚｸﾄﾘ", 2500),
                               NameColumn("FILE", 2100),
                               {"UPDATE", 1600},
                               {"UPTIME", 1200},
                               {"SIZE", 800, Qt::AlignRight},
                               {"FILE LVL", 900, Qt::AlignRight},
                               {"PGM LVL", 900, Qt::AlignRight},
                               {"KBN", 400, Qt::AlignRight}},
                              3}) {}

std::string BKPFIND1::versionsQuery(bool filtered) const { return inquiry::RunVersionsQuery(filtered); }

}  // namespace tessel
