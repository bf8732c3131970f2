// The engine's per-file statements stay index seeks on the catalog schema
// as shipped: a change of the indexes must not turn them into scans or sorts.
#include <gtest/gtest.h>

#include "backup/catalog_queries.h"
#include "backup_fixture.h"

namespace tessel::test {
namespace {

TEST(QueryPlans, PerFileStatementsNeitherScanNorSortFilekanri) {
    BackupFixture f;
    for (const char* sql : {backup::kLatestVersionSql, backup::kBareRowsSql, backup::kSupersedeSql,
                            backup::kNextRowsSql, backup::kWriteBackSql, backup::kMarkFailedSql,
                            backup::kMarkUnstoredSql}) {
        Statement plan = f.state.db().prepare(std::string("EXPLAIN QUERY PLAN ") + sql);
        std::string details;
        while (plan.step()) details += plan.text(3) + "\n";
        EXPECT_EQ(details.find("SCAN"), std::string::npos) << sql << "\n" << details;
        EXPECT_EQ(details.find("TEMP B-TREE"), std::string::npos) << sql << "\n" << details;
        EXPECT_NE(details.find("SEARCH"), std::string::npos) << sql << "\n" << details;
    }
}

}  // namespace
}  // namespace tessel::test
