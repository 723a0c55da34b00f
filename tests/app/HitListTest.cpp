// The hit list: rows follow the kind check boxes kind by kind, every listed record knows its row, sorting by any
// column, and the counts' reset.
#include <climits>
#include <cstdio>
#include <set>

#include "tests/app/DialogFixture.h"

namespace {

const int kindBoxes[5] = {IDC_CALL_PTR, IDC_CALL, IDC_JMP_PTR, IDC_JMP, IDC_STR_DATA};

class HitListTest : public TracerDialogTest {
protected:
    // Ten points of every kind, with counts that show, the extremes among them.
    void SetUp() override
    {
        TracerDialogTest::SetUp();
        static const char* const lines[][2] = {{"FF15", "call dword ptr [00402000]"}, {"E8", "call 00409000"},
                                               {"FF25", "jmp dword ptr [00403000]"}, {"75", "jmp 00401003"},
                                               {"68", "push 00404000"}, {"8BC0", "mov eax, eax"}};
        static const char* const names[] = {"alpha", "Beta", "gamma", "Zeta"};
        std::string text = "\r\n";
        char line[128];
        for (unsigned i = 0; i < 60; ++i) {
            std::snprintf(line, sizeof line, ":%08X %-24s%s\r\n", 0x00401000 + 7 * i, lines[i % 6][0], lines[i % 6][1]);
            text += line;
            std::snprintf(line, sizeof line, "%23sStringRef: \"%s %u\"\r\n", "", names[i % 4], i);
            text += i % 6 == 4 ? line : ""; // a string of the push before
        }
        m_view.assign(text.begin(), text.end());
        ConvertListing(m_view.data(), static_cast<DWORD>(m_view.size()), *dlg);
        static const LONG values[] = {INT_MIN, -7, 0, 3, 42, INT_MAX, 3};
        void *key, *value;
        int i = 0;
        for (int kind = 0; kind < 5; ++kind) {
            for (POSITION pos = dlg->KindMap(kind).GetStartPosition(); pos != NULL; ++i) {
                dlg->KindMap(kind).GetNextAssoc(pos, key, value);
                ListingRecord* record = static_cast<ListingRecord*>(value);
                m_kinds[kind].push_back(record);
                record->savedByte = 0x55;
                record->num = values[i % 7];
                record->hits = values[(i + 3) % 7];
                record->comp = values[(i * 3) % 7];
            }
            ASSERT_EQ(m_kinds[kind].size(), 10u);
        }
    }

    std::vector<ListingRecord*> Rows()
    {
        std::vector<ListingRecord*> rows;
        for (int i = 0; i < RowCount(); ++i)
            rows.push_back(RowRecord(i));
        return rows;
    }
    // Ticks the boxes and syncs the list, as a listing or archive load does.
    void Show(std::vector<int> checks)
    {
        for (int kind = 0; kind < 5; ++kind)
            ::SendMessageA(Item(kindBoxes[kind]), BM_SETCHECK, checks[kind], 0);
        dlg->SyncHitList();
    }
    // The list holds the records of the ticked kinds, each once, each knowing its row; every other record has row -1.
    void ExpectRowsMatchBoxes()
    {
        std::set<ListingRecord*> expected;
        for (int kind = 0; kind < 5; ++kind)
            for (ListingRecord* record : m_kinds[kind])
                if (Check(kindBoxes[kind]) == BST_CHECKED)
                    expected.insert(record);
                else
                    EXPECT_EQ(record->row, -1) << "kind " << kind << " at " << record->addrText;
        std::vector<ListingRecord*> rows = Rows();
        EXPECT_EQ(rows.size(), expected.size()) << "each listed once";
        EXPECT_EQ(std::set<ListingRecord*>(rows.begin(), rows.end()), expected);
        for (size_t i = 0; i < rows.size(); ++i)
            EXPECT_EQ(rows[i]->row, static_cast<LONG>(i));
    }
    void ClickHeading(int column)
    {
        NMLISTVIEW click = {{Item(IDC_HIT_LIST), IDC_HIT_LIST, static_cast<UINT>(LVN_COLUMNCLICK)}, -1, column, 0, 0, 0, {0, 0}, 0};
        ::SendMessageA(dlg->m_hWnd, WM_NOTIFY, IDC_HIT_LIST, reinterpret_cast<LPARAM>(&click));
    }
    // The record's row, and only it, is selected and on screen.
    void ExpectSelectedInView(const ListingRecord* record)
    {
        const int row = record->row, top = dlg->m_listHits.GetTopIndex();
        EXPECT_TRUE(dlg->m_listHits.GetNextItem(-1, LVNI_SELECTED) == row && dlg->m_listHits.GetSelectedCount() == 1 &&
                    row >= top && row <= top + dlg->m_listHits.GetCountPerPage()) << row << " from " << top;
    }
    std::string Cells(int row) const
    {
        return Cell(row, 0) + "|" + Cell(row, 1) + "|" + Cell(row, 2) + "|" + Cell(row, 3) + "|" + Cell(row, 4);
    }

    std::vector<char> m_view;
    std::vector<ListingRecord*> m_kinds[5]; // the records of every kind, from its map
};

// Kinds are listed once each through a run's pauses and stop and a reset. (Rows following single clicks are checked
// with every sort below.)
TEST_F(HitListTest, NoKindIsListedTwiceAfterARunOrAReset)
{
    Show({0, 1, 0, 0, 1});
    Click(IDC_STR_DATA);
    Click(IDC_STR_DATA);
    ExpectRowsMatchBoxes();
    EXPECT_EQ(dlg->m_bRearm, 0) << "no run: nothing to re-arm";
    dlg->m_bPauseOnStop = 1; // a live, paused run
    dlg->m_armedKinds[1] = dlg->m_armedKinds[4] = 1;
    Click(IDC_JMP);
    ExpectRowsMatchBoxes();
    EXPECT_EQ(dlg->m_bRearm, 1) << "planting the change is the engine's";
    EXPECT_EQ(std::vector<int>(dlg->m_armedKinds, dlg->m_armedKinds + 6), std::vector<int>({0, 1, 0, 0, 1, 0}));
    // Hits not yet shown on a call and a string; the calls go while paused: the call is counted without a row, the
    // string's row shows its count.
    const LONG callHits = m_kinds[1][4]->hits;
    for (ListingRecord* hit : {m_kinds[1][4], m_kinds[4][6]}) {
        dlg->m_pHitRecord = hit;
        dlg->OnDebugReport();
    }
    Click(IDC_CALL);
    ExpectRowsMatchBoxes();
    dlg->ShowHits();
    const ListingRecord* string = m_kinds[4][6];
    EXPECT_EQ(std::to_string(m_kinds[1][4]->hits - callHits) + " " + Cells(string->row),
              "1 0|" + std::to_string(string->hits) + "|" + std::to_string(string->comp) + "|" + string->addrText + "|" +
                  string->text);
    EXPECT_EQ(dlg->m_listHits.GetNextItem(-1, LVNI_SELECTED), string->row);
    Click(IDC_CALL);
    // The run's stop empties the engine's record while the rows stay.
    dlg->m_bPauseOnStop = 0;
    std::fill(dlg->m_armedKinds, dlg->m_armedKinds + 6, 0);
    for (int box : {IDC_CALL, IDC_JMP_PTR, IDC_CALL}) {
        Click(box);
        ExpectRowsMatchBoxes();
    }
    // A reset deletes every row; the next load lists the ticked kinds afresh, kinds changed at once in kind order.
    dlg->m_listHits.DeleteAllItems();
    Show({1, 1, 1, 1, 1});
    ExpectRowsMatchBoxes();
    for (int row = 1; row < RowCount(); ++row)
        EXPECT_LE(KindIndex(RowRecord(row - 1)->kind), KindIndex(RowRecord(row)->kind)) << row;
}

// Sorted by any column, equal rows keep their order, and removing a kind takes exactly its rows and keeps the others'
// order. By Disasm, rows take the order of lstrcmpiA, also on texts the locale's word sort treats apart: case,
// hyphens and apostrophes, digits, punctuation, letters, signs and blanks of the code page, control characters, empty
// text.
TEST_F(HitListTest, EveryHeadingSortsByItsColumnAndRemovingAKindKeepsThatOrder)
{
    static const char* const texts[] = {
        "", "a", "A", "-a", "a-", "a-b", "ab", "a'b", "AB", "a b", "co-op", "coop", "co op", "Co-Op", "9", "10",
        "1-0", "1.0", "-1", "e", "E", "\xE9", "\xC9", "\xE8", "ae", "\xE6", "\xC6", "ss", "\xDF", "a\xAD" "b", "\x96",
        "\x92", "'", "-", "_", "~", "!", "{", "\x7F", "\x01", "\t", "z", "\xFF", "\xA0", "jmp eax", "JMP EAX"};
    const size_t count = sizeof texts / sizeof texts[0];
    for (size_t i = 0; i < 50; ++i) { // written over the records' own texts
        ListingRecord* record = m_kinds[i / 10][i % 10];
        ASSERT_LE(std::strlen(texts[i % count]), std::strlen(record->text));
        std::strcpy(record->text, texts[i % count]);
    }
    using Before = bool (*)(const ListingRecord&, const ListingRecord&);
    const Before inOrder[5] = {
        [](const ListingRecord& a, const ListingRecord& b) { return a.num <= b.num; },
        [](const ListingRecord& a, const ListingRecord& b) { return a.hits >= b.hits; }, // most hits first
        [](const ListingRecord& a, const ListingRecord& b) { return a.comp >= b.comp; },
        [](const ListingRecord& a, const ListingRecord& b) { return a.addr <= b.addr; },
        [](const ListingRecord& a, const ListingRecord& b) { return ::lstrcmpiA(a.text, b.text) <= 0; },
    };
    for (int column = 0; column < 5; ++column)
        for (int kind = 0; kind < 5; ++kind) {
            SCOPED_TRACE(testing::Message() << "column " << column << ", kind " << kind);
            Show({1, 1, 1, 1, 1});
            ClickHeading(column);
            std::vector<ListingRecord*> rows = Rows(), kept;
            for (size_t i = 1; i < rows.size(); ++i)
                EXPECT_TRUE(inOrder[column](*rows[i - 1], *rows[i])) << "rows " << i - 1 << " and " << i;
            ExpectRowsMatchBoxes();
            ClickHeading(column);
            EXPECT_EQ(Rows(), rows) << "a second click keeps the order";
            std::copy_if(rows.begin(), rows.end(), std::back_inserter(kept), [&](ListingRecord* r) { return KindIndex(r->kind) != kind; });
            // The selection stays with its record, in view, through the removal and the next sort.
            const ListingRecord* selected = kept[(kept.size() * 2) / 3];
            dlg->m_listHits.SetItemState(selected->row, LVIS_SELECTED, LVIS_SELECTED);
            dlg->m_listHits.EnsureVisible(0, FALSE);
            Click(kindBoxes[kind]);
            ExpectRowsMatchBoxes();
            EXPECT_EQ(Rows(), kept);
            ExpectSelectedInView(selected);
            const int next = (column + kind + 1) % 5;
            std::stable_sort(kept.begin(), kept.end(), [&](ListingRecord* a, ListingRecord* b) { return !inOrder[next](*b, *a); });
            dlg->m_listHits.EnsureVisible(0, FALSE);
            ClickHeading(next);
            ExpectRowsMatchBoxes();
            EXPECT_EQ(Rows(), kept) << "sorted by " << next << ", equal rows in their order";
            ExpectSelectedInView(selected);
        }
}

// A record shows its counts once a breakpoint or an archive has given it a saved byte. The counts' reset clears them,
// in compare mode keeping as Comp the hits its row showed. A hit then shows the counts of its row, scrolled into view
// and selected: Comp only in compare mode.
TEST_F(HitListTest, AResetAndTheHitsAfterItShowTheCountsOfTheirRows)
{
    for (int compare : {0, 1}) {
        SCOPED_TRACE(compare);
        for (int i = 0; i < 50; ++i)
            m_kinds[i / 10][i % 10]->savedByte = i % 3 == 0 ? 0 : 0xCC;
        dlg->m_listHits.DeleteAllItems();
        Show({1, 1, 1, 1, 1});
        std::vector<std::string> comps;
        for (int row = 0; row < RowCount(); ++row) {
            const ListingRecord* r = RowRecord(row);
            const std::string hits = std::to_string(r->hits), text = std::string("|") + r->addrText + "|" + r->text;
            const bool shown = r->savedByte != 0;
            EXPECT_EQ(Cells(row), (shown ? std::to_string(r->num) + "|" + hits + "|" + std::to_string(r->comp) : "||") + text);
            comps.push_back(compare && shown ? hits : "");
        }
        dlg->m_bCompareMode = compare;
        EXPECT_EQ(dlg->ResetHitCounts(), RowCount());
        for (int row = 0; row < RowCount(); ++row) {
            const ListingRecord* r = RowRecord(row);
            EXPECT_EQ(std::to_string(r->num) + std::to_string(r->hits) + std::to_string(r->comp) + "|" + Cells(row),
                      "00" + (comps[row].empty() ? "0" : comps[row]) + "|||" + comps[row] + "|" + r->addrText + "|" + r->text);
        }
        for (int row : {RowCount() - 1, 0, RowCount() / 2}) {
            ListingRecord* hit = RowRecord(row);
            dlg->m_listHits.EnsureVisible(row < RowCount() / 3 ? RowCount() - 1 : 0, FALSE);
            dlg->m_pHitRecord = hit;
            dlg->m_nHitSeq = row + 100;
            dlg->OnDebugReport();
            dlg->ShowHits();
            std::string comp = compare ? std::to_string(hit->comp) : "";
            EXPECT_EQ(Cells(row), std::to_string(row + 100) + "|1|" + comp + "|" + hit->addrText + "|" + hit->text);
            ExpectSelectedInView(hit);
        }
    }
    // Typing finds the next row by its Num, as in a list that holds its texts.
    dlg->m_listHits.SetItemState(0, LVIS_FOCUSED, LVIS_FOCUSED);
    ::SendMessageA(Item(IDC_HIT_LIST), WM_CHAR, '1', 1);
    EXPECT_EQ(dlg->m_listHits.GetNextItem(-1, LVNI_SELECTED), RowCount() / 2) << "the first Num from 1 after row 0";
}

} // namespace
