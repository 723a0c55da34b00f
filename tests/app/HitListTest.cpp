// The hit list: rows follow the kind check boxes kind by kind, every listed
// record knows its row, sorting by any column, and the counts' reset.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <set>
#include <string>
#include <vector>

#include "tests/app/DialogFixture.h"

namespace {

const int kindBoxes[5] = {IDC_CALL_PTR, IDC_CALL, IDC_JMP_PTR, IDC_JMP, IDC_STR_DATA};

class HitListTest : public TracerDialogTest {
protected:
    // About ten points of every kind but "Jmp Ptr" (unless asked), mixed with lines that are no point.
    void LoadListing(bool withJmpPtr = true)
    {
        static const char* const names[] = {"alpha", "Beta", "gamma", "Zeta"};
        DWORD addr = 0x00401000;
        for (int i = 0; i < 60; ++i, addr += 7) {
            char text[64];
            switch (i % 6) {
            case 0:
                wsprintfA(text, "call dword ptr [%08X]", 0x00402000 + i);
                listing.Code(addr, "FF15", text);
                break;
            case 1:
                wsprintfA(text, "call %08X", 0x00409000 - i);
                listing.Code(addr, "E8", text);
                break;
            case 2:
                if (withJmpPtr)
                    listing.Code(addr, "FF25", "jmp dword ptr [00403000]");
                break;
            case 3:
                wsprintfA(text, "%s %08X", i % 12 == 3 ? "JNE" : "jmp", 0x00401000 + i);
                listing.Code(addr, "75", text);
                break;
            case 4:
                listing.Code(addr, "68", "push 00404000");
                wsprintfA(text, "%s %d", names[i % 4], i);
                listing.Str(text);
                break;
            default:
                listing.Code(addr, "8BC0", "mov eax, eax");
                listing.Line("; a comment line");
                break;
            }
        }
        // The lowest and the highest address a listing line can hold.
        listing.Code(0x0FFFF000, "E8", "call 0FFFF010");
        listing.Code(0x00400000, "E8", "call 00400010");
        listing.Load(*dlg);
    }

    std::vector<ListingRecord*> KindRecords(int kind)
    {
        std::vector<ListingRecord*> records;
        CMapPtrToPtr& map = dlg->KindMap(kind);
        for (POSITION pos = map.GetStartPosition(); pos != NULL;) {
            void* key;
            void* value;
            map.GetNextAssoc(pos, key, value);
            records.push_back(static_cast<ListingRecord*>(value));
        }
        return records;
    }
    std::vector<ListingRecord*> Rows()
    {
        std::vector<ListingRecord*> rows;
        for (int i = 0; i < RowCount(); ++i)
            rows.push_back(RowRecord(i));
        return rows;
    }
    void SetBoxes(std::initializer_list<int> checks)
    {
        int i = 0;
        for (int check : checks)
            ::SendMessageA(Item(kindBoxes[i++]), BM_SETCHECK, check, 0);
    }
    // The list holds exactly the records of the ticked kinds, each once, each
    // knowing its row; every other record has row -1.
    void ExpectRowsMatchBoxes()
    {
        std::set<ListingRecord*> expected;
        for (int kind = 0; kind < 5; ++kind) {
            bool ticked = Check(kindBoxes[kind]) == BST_CHECKED;
            for (ListingRecord* record : KindRecords(kind)) {
                if (ticked)
                    expected.insert(record);
                else
                    EXPECT_EQ(record->row, -1) << "kind " << kind << " at " << record->addrText;
            }
        }
        std::vector<ListingRecord*> rows = Rows();
        EXPECT_EQ(rows.size(), expected.size());
        EXPECT_EQ(std::set<ListingRecord*>(rows.begin(), rows.end()), expected) << "each listed once";
        for (size_t i = 0; i < rows.size(); ++i)
            EXPECT_EQ(rows[i]->row, static_cast<LONG>(i));
    }
    bool RowVisible(int row)
    {
        int top = static_cast<int>(::SendMessageA(Item(IDC_HIT_LIST), LVM_GETTOPINDEX, 0, 0));
        int perPage = static_cast<int>(::SendMessageA(Item(IDC_HIT_LIST), LVM_GETCOUNTPERPAGE, 0, 0));
        return top <= row && row <= top + perPage;
    }
    // Counts that show (savedByte set) on every point record, from a fixed sequence.
    void GiveCounts()
    {
        unsigned seed = 12345;
        auto next = [&seed] {
            seed = seed * 1103515245u + 12345u;
            return static_cast<LONG>((seed >> 16) % 50);
        };
        for (int kind = 0; kind < 5; ++kind)
            for (ListingRecord* record : KindRecords(kind)) {
                record->savedByte = 0x55;
                record->num = next();
                record->hits = next();
                record->comp = next() - 25;
            }
    }

    ListingBuilder listing;
};

TEST_F(HitListTest, RowsFollowTheKindBoxesOneKindAtATime)
{
    LoadListing();
    dlg->SyncHitList(); // what the listing load does: "Str Data" is ticked at start-up
    ExpectRowsMatchBoxes();
    EXPECT_EQ(RowCount(), 10);

    const int clicks[] = {IDC_CALL, IDC_JMP, IDC_STR_DATA, -4, IDC_CALL_PTR, IDC_CALL, -1,
                          IDC_JMP_PTR, IDC_JMP, IDC_STR_DATA, -3, IDC_CALL_PTR, IDC_JMP_PTR, IDC_STR_DATA};
    for (int click : clicks) {
        SCOPED_TRACE(click);
        if (click < 0)
            ClickHeading(-click);
        else
            Click(click);
        ExpectRowsMatchBoxes();
        EXPECT_EQ(dlg->m_bRearm, 0) << "no run: nothing to re-arm";
        for (int box : kindBoxes)
            EXPECT_TRUE(Enabled(box));
    }
    EXPECT_EQ(RowCount(), 0);
}

TEST_F(HitListTest, SeveralChangedKindsAreAddedInKindOrder)
{
    LoadListing();
    SetBoxes({1, 1, 1, 1, 1}); // as an archive load sets them
    dlg->SyncHitList();
    ExpectRowsMatchBoxes();
    // Added from an empty list, the rows come grouped: Call Ptr, Call, Jmp Ptr, Jmp, Str Data.
    const BYTE order[] = {'C', 'c', 'J', 'j', 's'};
    std::vector<ListingRecord*> rows = Rows();
    size_t group = 0;
    for (ListingRecord* record : rows) {
        while (group < 5 && record->kind != order[group])
            ++group;
        ASSERT_LT(group, 5u) << "rows out of kind order";
    }
    SetBoxes({0, 1, 0, 0, 1});
    dlg->SyncHitList();
    ExpectRowsMatchBoxes();
}

TEST_F(HitListTest, RemovingAKindTakesExactlyItsRowsWhateverTheSortOrder)
{
    LoadListing();
    GiveCounts();
    for (int column = 0; column < 5; ++column) {
        for (int kind = 0; kind < 5; ++kind) {
            SCOPED_TRACE(testing::Message() << "column " << column << ", kind " << kind);
            SetBoxes({1, 1, 1, 1, 1});
            dlg->SyncHitList();
            ClickHeading(column);
            std::vector<ListingRecord*> kept;
            for (ListingRecord* record : Rows())
                if (KindIndex(record->kind) != kind)
                    kept.push_back(record);
            Click(kindBoxes[kind]);
            ExpectRowsMatchBoxes();
            EXPECT_EQ(Rows(), kept) << "the other rows keep their order";
        }
    }
}

TEST_F(HitListTest, AnEmptyKindAddsNoRowAndShowsTheLastRow)
{
    LoadListing(false);
    SetBoxes({1, 1, 0, 1, 1});
    dlg->SyncHitList();
    int rows = RowCount();
    ASSERT_GT(rows, 30);
    dlg->m_listHits.EnsureVisible(0, FALSE);
    ASSERT_FALSE(RowVisible(rows - 1));
    Click(IDC_JMP_PTR);
    EXPECT_EQ(RowCount(), rows);
    ExpectRowsMatchBoxes();
    EXPECT_TRUE(RowVisible(rows - 1));
}

TEST_F(HitListTest, CellsShowCountsOnlyWithASavedByteAndTextFromTheListing)
{
    LoadListing();
    std::vector<ListingRecord*> strings = KindRecords(4);
    ASSERT_GE(strings.size(), 2u);
    for (ListingRecord* record : strings) {
        record->num = 3;
        record->hits = 4;
        record->comp = -2; // counts left in the file by an earlier run
    }
    strings[0]->savedByte = 0x90;
    dlg->SyncHitList();
    for (ListingRecord* record : strings) {
        SCOPED_TRACE(record->addrText);
        bool shown = record == strings[0];
        EXPECT_EQ(Cell(record->row, 0), shown ? "3" : "");
        EXPECT_EQ(Cell(record->row, 1), shown ? "4" : "");
        EXPECT_EQ(Cell(record->row, 2), shown ? "-2" : "");
        EXPECT_EQ(Cell(record->row, 3), std::string(record->addrText));
        EXPECT_EQ(Cell(record->row, 4), std::string(record->text));
        EXPECT_EQ(record->text[0], '"');
    }
}

TEST_F(HitListTest, OfTwoRecordsAtOneAddressOnlyTheOneItsMapKeepsIsListed)
{
    listing.Code(0x00405000, "68", "push 00406000");
    listing.Str("first");
    listing.Str("second");
    listing.Load(*dlg);
    dlg->SyncHitList();
    ASSERT_EQ(RowCount(), 1);
    EXPECT_STREQ(RowRecord(0)->text, "\"second\"");
    EXPECT_EQ(RowRecord(0)->addr, 0x00405000u);
    EXPECT_EQ(Cell(0, 3), "00405000");
}

TEST_F(HitListTest, AStoppedRunDoesNotListRowsTwice)
{
    LoadListing();
    SetBoxes({0, 1, 0, 0, 1});
    dlg->SyncHitList();
    int rows = RowCount();

    // A run plants the ticked kinds; its stop removes every breakpoint and
    // leaves the engine's record empty, while the rows stay.
    dlg->m_bPauseOnStop = 1;
    dlg->m_armedKinds[1] = dlg->m_armedKinds[4] = 1;
    for (int& armed : dlg->m_armedKinds)
        armed = 0;
    dlg->m_bPauseOnStop = 0;

    Click(IDC_JMP);
    ExpectRowsMatchBoxes();
    EXPECT_EQ(RowCount(), rows + static_cast<int>(KindRecords(3).size()));
    Click(IDC_CALL);
    ExpectRowsMatchBoxes();
}

TEST_F(HitListTest, DuringARunTheEngineIsLeftToReplantTheChangedKinds)
{
    LoadListing();
    dlg->SyncHitList();
    dlg->m_bPauseOnStop = 1; // a live run, paused: the boxes are enabled
    const int armed[6] = {0, 0, 0, 0, 1, 0};
    std::copy(armed, armed + 6, dlg->m_armedKinds);
    Click(IDC_CALL);
    ExpectRowsMatchBoxes();
    EXPECT_EQ(dlg->m_bRearm, 1);
    EXPECT_TRUE(std::equal(armed, armed + 6, dlg->m_armedKinds)) << "the engine's record is the engine's to change";
    EXPECT_EQ(dlg->m_bCall, 1);
}

TEST_F(HitListTest, AfterTheListIsEmptiedTheTickedKindsAreListedAgain)
{
    LoadListing();
    SetBoxes({1, 0, 0, 1, 1});
    dlg->SyncHitList();
    int rows = RowCount();
    // A trace reset deletes every row; a later load lists the ticked kinds afresh.
    dlg->m_listHits.DeleteAllItems();
    dlg->SyncHitList();
    EXPECT_EQ(RowCount(), rows);
    ExpectRowsMatchBoxes();
}

TEST_F(HitListTest, EveryHeadingSortsByItsColumnAndKeepsRowsRight)
{
    LoadListing();
    GiveCounts();
    SetBoxes({1, 1, 1, 1, 1});
    dlg->SyncHitList();
    auto inOrder = [](int column, const ListingRecord* a, const ListingRecord* b) {
        switch (column) {
        case 0: return a->num <= b->num;
        case 1: return a->hits >= b->hits;
        case 2: return a->comp >= b->comp;
        case 3: return a->addr <= b->addr;
        default: return ::lstrcmpiA(a->text, b->text) <= 0;
        }
    };
    for (int column : {0, 1, 2, 3, 4, 1}) {
        SCOPED_TRACE(column);
        ClickHeading(column);
        std::vector<ListingRecord*> rows = Rows();
        for (size_t i = 1; i < rows.size(); ++i)
            EXPECT_TRUE(inOrder(column, rows[i - 1], rows[i])) << "rows " << i - 1 << " and " << i;
        ExpectRowsMatchBoxes();
        ClickHeading(column);
        EXPECT_EQ(Rows(), rows) << "a second click keeps the order";
    }
    ClickHeading(3);
    EXPECT_EQ(RowRecord(0)->addr, 0x00400000u);
    EXPECT_EQ(RowRecord(RowCount() - 1)->addr, 0x0FFFF000u);
}

TEST_F(HitListTest, SortingScrollsToTheSelectedRowOrTheLatestHit)
{
    LoadListing();
    GiveCounts();
    SetBoxes({1, 1, 1, 1, 1});
    dlg->SyncHitList();
    ListingRecord* selected = RowRecord(0);
    dlg->m_listHits.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    ClickHeading(4);
    ClickHeading(1);
    EXPECT_TRUE(RowVisible(selected->row));

    dlg->m_listHits.SetItemState(selected->row, 0, LVIS_SELECTED);
    dlg->m_pHitRecord = RowRecord(RowCount() / 2);
    dlg->m_listHits.EnsureVisible(0, FALSE);
    ClickHeading(3);
    EXPECT_TRUE(RowVisible(dlg->m_pHitRecord->row));
}

TEST_F(HitListTest, ResetHitCountsClearsCountsAndKeepsHitsForCompareMode)
{
    LoadListing();
    SetBoxes({0, 1, 0, 0, 1});
    std::vector<ListingRecord*> records = KindRecords(1);
    for (ListingRecord* record : KindRecords(4))
        records.push_back(record);
    for (size_t i = 0; i < records.size(); ++i) {
        records[i]->num = static_cast<LONG>(i + 1);
        records[i]->hits = static_cast<LONG>(10 + i);
        records[i]->comp = -3;
        records[i]->savedByte = i % 3 == 0 ? 0 : 0xCC; // some still show empty cells
    }
    for (int compare : {1, 0}) {
        SCOPED_TRACE(compare);
        for (size_t i = 0; i < records.size(); ++i) {
            records[i]->num = static_cast<LONG>(i + 1);
            records[i]->hits = static_cast<LONG>(10 + i);
        }
        dlg->m_listHits.DeleteAllItems();
        dlg->SyncHitList();
        dlg->m_bCompareMode = compare;
        EXPECT_EQ(dlg->ResetHitCounts(), static_cast<int>(records.size()));
        for (size_t i = 0; i < records.size(); ++i) {
            const ListingRecord* r = records[i];
            bool shown = r->savedByte != 0;
            EXPECT_EQ(r->num, 0);
            EXPECT_EQ(r->hits, 0);
            EXPECT_EQ(Cell(r->row, 0), "");
            EXPECT_EQ(Cell(r->row, 1), "");
            if (compare) {
                EXPECT_EQ(r->comp, shown ? static_cast<LONG>(10 + i) : 0);
                EXPECT_EQ(Cell(r->row, 2), shown ? std::to_string(10 + i) : "");
            } else {
                EXPECT_EQ(r->comp, 0);
                EXPECT_EQ(Cell(r->row, 2), "");
            }
        }
    }
}

TEST(CompareHitRows, KeysOrderRowsWithoutOverflow)
{
    ListingRecord a = {}, b = {};
    auto cmp = [&](int key) {
        return CTracerDlg::CompareHitRows(reinterpret_cast<LPARAM>(&a), reinterpret_cast<LPARAM>(&b), key);
    };
    a.num = INT_MIN;
    b.num = 1;
    EXPECT_LT(cmp(0), 0);
    a.hits = INT_MAX;
    b.hits = -5;
    EXPECT_LT(cmp(1), 0) << "most hits first";
    a.comp = -1;
    b.comp = INT_MAX;
    EXPECT_GT(cmp(2), 0);
    a.addr = 0xF0000000;
    b.addr = 0x00400000;
    EXPECT_GT(cmp(3), 0);
    std::strcpy(a.text, "");
    EXPECT_EQ(cmp(4), 0);
    // Removal key: listed rows (any row >= 0) are equal, unlisted ones go behind.
    a.row = -1;
    b.row = 12345;
    EXPECT_GT(cmp(-1), 0);
    a.row = 0;
    EXPECT_EQ(cmp(-1), 0);
    for (int key : {5, 99, -2})
        EXPECT_EQ(cmp(key), 0) << key;
}

} // namespace
