#include "support/CodeTables.h"
#include "support/FaultyFileSystem.h"
#include "support/MemoryFileSystem.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>

namespace tarvina::xbase::test {
namespace {

// What one record holds, as the tags see it.
struct Row {
    std::string pin, mac, fecha, hora, equipo;
    bool deleted = false;
};

std::string Pad(std::string s, std::size_t n) {
    s.resize(n, ' ');
    return s;
}

struct TagModel {
    std::string name;
    std::string (*key)(const Row&);
    bool (*includes)(const Row&);
};

const TagModel kTags[] = {
    {"PIN", [](const Row& r) { return Pad(r.pin, 6); }, [](const Row& r) { return !r.deleted; }},
    {"MAC", [](const Row& r) { return Pad(r.mac, 17); },
     [](const Row& r) { return !r.deleted && !r.mac.empty(); }},
    {"FECHOR", [](const Row& r) { return Pad(r.fecha, 8) + Pad(r.hora, 8); },
     [](const Row& r) { return !r.deleted; }},
    {"EQUIPO", [](const Row& r) { return Pad(r.equipo, 64); },
     [](const Row& r) { return !r.deleted; }},
};

std::vector<std::pair<std::uint32_t, std::string>> Expected(const std::vector<Row>& rows,
                                                            const TagModel& tag) {
    std::vector<std::pair<std::string, std::uint32_t>> v;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (tag.includes(rows[i]))
            v.emplace_back(tag.key(rows[i]), std::uint32_t(i + 1));
    std::sort(v.begin(), v.end());
    std::vector<std::pair<std::uint32_t, std::string>> out;
    for (auto& [k, r] : v)
        out.emplace_back(r, k);
    return out;
}

class Generator {
public:
    explicit Generator(unsigned seed) : rng_(seed) {}
    int Below(int n) { return int(rng_() % unsigned(n)); }
    std::string Pin() {
        static const char* alphabet = "0A1B";
        std::string s;
        const int len = 3 + Below(4); // short codes leave trailing blanks in the key
        for (int i = 0; i < len; ++i)
            s.push_back(alphabet[Below(4)]);
        return s;
    }
    std::string Mac() {
        if (Below(2))
            return std::string();
        return "00-11-22-33-44-" + std::to_string(10 + Below(5));
    }
    std::string Fecha() {
        if (Below(5) == 0)
            return std::string(); // null date: DTOS gives blanks
        const int month = 1 + Below(12);
        return "2024" + std::string(month < 10 ? "0" : "") + std::to_string(month) + "1" +
               std::to_string(Below(10));
    }
    std::string Hora() {
        return "1" + std::to_string(Below(3)) + ":00:0" + std::to_string(Below(3));
    }
    std::string Equipo() {
        if (Below(6) == 0)
            return std::string();
        return "SALA-PRINCIPAL-DEL-CAFE-" + std::string(std::size_t(Below(30)), 'x') +
               std::to_string(Below(50));
    }

private:
    std::mt19937 rng_;
};

void Write(TableEngine& t, const Row& r) {
    t.SetString("PIN", r.pin);
    t.SetString("MAC", r.mac);
    if (r.fecha.empty())
        t.SetNull("FECHA");
    else
        t.SetString("FECHA", r.fecha);
    t.SetString("HORA", r.hora);
    t.SetString("EQUIPO", r.equipo);
}

TEST(RandomOperationsTest, TenThousandOperationsAgreeWithTheModel) {
    MemoryFileSystem fs;
    fs.MakeFolder("/data");
    TableEngine t(fs);
    OpenNewCodeTable(t, "/data/CajaPIN.dbf");
    t.IndexTag("", "EQUIPO", "EQUIPO", 0, false, ".not. deleted()");
    bool exclusive = true;

    Generator g(20240601);
    std::vector<Row> rows;
    auto checkAll = [&](int op) {
        for (const TagModel& tag : kTags) {
            auto want = Expected(rows, tag);
            auto have = t.TagKeys(tag.name);
            ASSERT_EQ(have.size(), want.size()) << tag.name << " after op " << op;
            ASSERT_TRUE(have == want) << tag.name << " after op " << op;
        }
    };

    for (int op = 0; op < 10000; ++op) {
        const int kind = g.Below(200);
        if (kind < 90 || rows.empty()) { // append
            Row r{g.Pin(), g.Mac(), g.Fecha(), g.Hora(), g.Equipo(), false};
            t.Append();
            Write(t, r);
            t.Post();
            if (g.Below(4) == 0)
                t.Commit();
            rows.push_back(r);
            ASSERT_EQ(t.RecNo(), rows.size());
        } else if (kind < 130) { // edit, sometimes changing the keys
            const std::uint32_t rec = std::uint32_t(1 + g.Below(int(rows.size())));
            Row& r = rows[rec - 1];
            t.GoTo(rec);
            t.Edit();
            if (g.Below(2))
                r.pin = g.Pin();
            if (g.Below(2))
                r.mac = g.Mac();
            if (g.Below(3) == 0)
                r.hora = g.Hora();
            if (g.Below(3) == 0)
                r.equipo = g.Equipo();
            Write(t, r);
            t.Post();
        } else if (kind < 150) { // delete
            const std::uint32_t rec = std::uint32_t(1 + g.Below(int(rows.size())));
            t.GoTo(rec);
            t.Delete();
            rows[rec - 1].deleted = true;
        } else if (kind < 180) { // soft seek of a prefix
            const TagModel& tag = kTags[g.Below(4)];
            t.SetOrder(tag.name);
            auto want = Expected(rows, tag);
            std::string prefix = tag.key(rows[std::size_t(g.Below(int(rows.size())))]);
            prefix.resize(std::size_t(1 + g.Below(int(prefix.size()))));
            if (g.Below(4) == 0)
                prefix.back() = char(prefix.back() + 1); // usually absent
            const bool found = t.Seek(prefix);
            auto it = std::find_if(want.begin(), want.end(), [&](const auto& e) {
                return e.second.compare(0, prefix.size(), prefix) >= 0;
            });
            const bool wantFound =
                it != want.end() && it->second.compare(0, prefix.size(), prefix) == 0;
            ASSERT_EQ(found, wantFound) << tag.name << " \"" << prefix << "\" op " << op;
            if (it == want.end())
                ASSERT_TRUE(t.Eof());
            else
                ASSERT_EQ(t.RecNo(), it->first) << tag.name << " \"" << prefix << "\" op " << op;
        } else if (kind < 196) { // walk a few steps either way
            const TagModel& tag = kTags[g.Below(4)];
            t.SetOrder(tag.name);
            auto want = Expected(rows, tag);
            if (want.empty())
                continue;
            std::size_t at = std::size_t(g.Below(int(want.size())));
            t.GoTo(want[at].first);
            const bool forward = g.Below(2);
            for (int s = 0; s < 5; ++s) {
                if (forward) {
                    t.Next();
                    if (++at == want.size()) {
                        ASSERT_TRUE(t.Eof());
                        break;
                    }
                } else {
                    t.Prior();
                    if (at == 0) {
                        ASSERT_TRUE(t.Bof());
                        break;
                    }
                    --at;
                }
                ASSERT_EQ(t.RecNo(), want[at].first) << tag.name << " op " << op;
            }
            t.SetOrder("");
        } else if (kind < 198) { // reopen, in the other mode
            t.Close();
            exclusive = !exclusive;
            t.Open("/data/cajapin.dbf", exclusive);
        } else { // pack
            if (!exclusive) {
                t.Close();
                exclusive = true;
                t.Open("/data/CajaPIN.dbf", true);
            }
            t.Pack();
            rows.erase(
                std::remove_if(rows.begin(), rows.end(), [](const Row& r) { return r.deleted; }),
                rows.end());
            ASSERT_EQ(t.RecordCount(), rows.size());
        }
        if (op % 250 == 249)
            checkAll(op);
        if (HasFatalFailure())
            return;
    }
    checkAll(10000);
    const auto faults = t.Verify();
    EXPECT_TRUE(faults.empty()) << faults.front();
    // The on-disk trees must be deep enough to have exercised splits.
    EXPECT_GT(rows.size(), 3000u);
}

} // namespace
} // namespace tarvina::xbase::test
