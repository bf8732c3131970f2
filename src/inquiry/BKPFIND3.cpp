#include "inquiry/BKPFIND3.h"

#include <QHBoxLayout>
#include <QListWidget>

#include "inquiry/inquiry_queries.h"
#include "ui/app_context.h"
#include "ui/selection.h"

namespace tessel {

BKPFIND3::BKPFIND3(AppContext& context)
    : InquiryWindow(context, {"BKPFIND3",
                              "最新ファイル状況問い合わせ",
                              inquiry::kDirectoriesQuery,
                              {{"番号", 0},
                               NameColumn("ﾃﾞｨﾚｸﾄﾘｰ", 2700),
                               NameColumn("ﾊﾞｯｸｱｯﾌﾟﾃﾞｨﾚｸﾄﾘｰ", 2800),
                               {"区分", 1200},
                               NameColumn("備考", 1800)},
                              {{"BKPNO", 0, Qt::AlignRight},
                               {"DIRNO", 0, Qt::AlignRight},
                               {"LVL", 380, Qt::AlignRight},
                               NameColumn("DIR", 2600),
                               NameColumn("FILE", 1900),
                               {"UPDATE", 1700},
                               {"UPTIME", 1200},
                               {"SIZE", 900, Qt::AlignRight},
                               {"FILE LVL", 1050, Qt::AlignRight},
                               {"PGM LVL", 1050, Qt::AlignRight},
                               {"KBN", 420, Qt::AlignRight},
                               {"CHK1", 0}}}) {
    list_ = new QListWidget(this);
    list_->setObjectName("KBNNM");
    list_->setFixedWidth(list_->fontMetrics().horizontalAdvance(QString::fromUtf8("エラーのみ")) + 40);
    upperRow()->addWidget(list_, 0, Qt::AlignTop);
    // The mode changes here; the versions grid follows at the next click on
    // a directory.
    BindChoice(*list_, [this](int row) { filterMode_ = list_->item(row)->text() == QString::fromUtf8("全部") ? "1" : "2"; });
}

void BKPFIND3::open() {
    list_->clear();
    list_->addItems({QString::fromUtf8("全部"), QString::fromUtf8("エラーのみ")});
    list_->setCurrentRow(0);
    filterMode_ = "1";
    InquiryWindow::open();
}

void BKPFIND3::openErrorsOnly() {
    open();
    list_->setCurrentRow(1);
    filterMode_ = "2";
    Statement q = context().state.db().prepare(
        "SELECT DIRNO FROM FILEKANRI WHERE CHK1 = '1' AND KBN1 >= '8' ORDER BY DIRNO LIMIT 1");
    if (q.step()) showVersionsOfDirectory(q.int64(0));
}

std::string BKPFIND3::versionsQuery(bool filtered) const { return inquiry::LatestVersionsQuery(filtered, filterMode_); }

}  // namespace tessel
