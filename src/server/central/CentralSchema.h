#pragma once

#include "server/central/CentralTables.h"
#include "server/central/PgLink.h"

#include <vector>

namespace tarvina::server::central {

// The version of the central tables this program makes and writes.
inline constexpr int kSchemaVersion = 1;

// Makes the central tables, or brings older ones up to kSchemaVersion, in one
// transaction that holds the other branches off meanwhile. A database that a
// newer program prepared is refused (CentralError NewerSchema). Returns the
// version found before (0 for an empty database).
int EnsureSchema(PgLink& link);

// The version the database holds; 0 when it holds none.
int SchemaVersion(PgLink& link);

// Writes the rows of one branch in one transaction, each row keyed by
// (branch, table, local id): a row written again replaces itself, so a
// resend after a lost answer never doubles a row. Rows in commit order; a
// later row of the same key wins.
void UpsertRows(PgLink& link, const QString& branch, const std::vector<CentralRow>& rows);

// Whether the user may create the tables (an empty database) or write them.
// Throws CentralError Rights when not.
void CheckRights(PgLink& link);

} // namespace tarvina::server::central
