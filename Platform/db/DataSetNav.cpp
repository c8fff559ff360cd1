// TDataSet: the record-buffer ring, navigation, bookmarks and resynchronisation.
//
// FBuffers holds FBufferCount record buffers plus one spare. The first
// FRecordCount of them hold consecutive records of the cursor, FActiveRecord
// is the current one, and FCurrentRecord says which buffered record the
// descendant's cursor stands on (-1: unknown). Reading a record always goes
// into the spare buffer FBuffers[FRecordCount], which then joins the ring at
// the end (reading forward) or at the start (reading backward); when the ring
// is full the buffer at the other end becomes the new spare.

#include <algorithm>
#include <cstring>

#include "Platform/db/DBConsts.h"
#include "Platform/db/DataSet.h"
#include "Platform/db/DataSource.h"

namespace Db {

// ---- Ring ------------------------------------------------------------------------------

void TDataSet::SetBufListSize(int Value) {
    int old = static_cast<int>(FBuffers.size());
    if (Value > old) {
        FBuffers.reserve(Value);
        for (int i = old; i < Value; ++i) FBuffers.push_back(AllocRecordBuffer());
    } else {
        while (static_cast<int>(FBuffers.size()) > Value) {
            TRecordBuffer buffer = FBuffers.back();
            FBuffers.pop_back();
            FreeRecordBuffer(buffer);
        }
    }
}

void TDataSet::MoveBuffer(int CurIndex, int NewIndex) {
    if (CurIndex == NewIndex) return;
    auto first = FBuffers.begin();
    if (CurIndex < NewIndex)
        std::rotate(first + CurIndex, first + CurIndex + 1, first + NewIndex + 1);
    else
        std::rotate(first + NewIndex, first + CurIndex, first + CurIndex + 1);
}

void TDataSet::AdjustFirstRecord(int Delta) {
    if (Delta == 0) return;
    for (TDataSource* source : FDataSources)
        for (TDataLink* link : source->FDataLinks)
            if (link->FActive) link->FFirstRecord += Delta;
}

void TDataSet::SetBufferCount(int Value) {
    if (FBufferCount == Value) return;
    if (FBufferCount > Value && FRecordCount > 0) {
        // Keep the records the links still show: drop from the front what lies
        // before the earliest link window, but never lose the active record.
        int delta = FActiveRecord;
        for (TDataSource* source : FDataSources)
            for (TDataLink* link : source->FDataLinks)
                if (link->FActive && link->FFirstRecord < delta) delta = link->FFirstRecord;
        delta = std::max(delta, FActiveRecord - Value + 1);
        delta = std::max(delta, 0);
        if (delta > 0) std::rotate(FBuffers.begin(), FBuffers.begin() + delta, FBuffers.end());
        FActiveRecord -= delta;
        if (FCurrentRecord != -1) {
            FCurrentRecord -= delta;
            if (FCurrentRecord < 0 || FCurrentRecord >= Value) FCurrentRecord = -1;
        }
        FRecordCount = std::min(FRecordCount - delta, Value);
        AdjustFirstRecord(-delta);
    }
    SetBufListSize(Value + 1);
    FBufferCount = Value;
    if (FRecordCount > FBufferCount) FRecordCount = FBufferCount;
    GetNextRecords();
    AdjustFirstRecord(GetPriorRecords());
}

void TDataSet::UpdateBufferCount() {
    if (!IsCursorOpen()) return;
    int maxCount = 1;
    for (TDataSource* source : FDataSources)
        for (TDataLink* link : source->FDataLinks) maxCount = std::max(maxCount, link->FBufferCount);
    SetBufferCount(maxCount);
}

void TDataSet::ClearBuffers() noexcept {
    FRecordCount = 0;
    FActiveRecord = 0;
    FCurrentRecord = -1;
    FBOF = true;
    FEOF = true;
}

void TDataSet::ActivateBuffers() noexcept {
    FRecordCount = 1;
    FActiveRecord = 0;
    FEOF = false;
    FBOF = false;
}

void TDataSet::SetCurrentRecord(int Index) {
    if (FCurrentRecord == Index) return;
    if (!FIsUniDirectional) {
        TRecordBuffer buffer = FBuffers[Index];
        switch (GetBookmarkFlag(buffer)) {
            case bfCurrent:
            case bfInserted: InternalSetToRecord(buffer); break;
            case bfBOF: InternalFirst(); break;
            case bfEOF: InternalLast(); break;
        }
    }
    FCurrentRecord = Index;
}

void TDataSet::UpdateCursorPos() {
    if (FRecordCount > 0) SetCurrentRecord(FActiveRecord);
}

bool TDataSet::GetNextRecord() {
    TGetMode mode = gmNext;
    if (FRecordCount > 0) {
        SetCurrentRecord(FRecordCount - 1);
        // A new record being inserted at the end is not in the cursor yet: the
        // record after it is the cursor's current one.
        if (FState == dsInsert && FCurrentRecord == FActiveRecord && GetBookmarkFlag(ActiveBuffer()) == bfCurrent)
            mode = gmCurrent;
    }
    bool ok = GetRecord(FBuffers[FRecordCount], mode, true) == grOK;
    if (ok) {
        if (FRecordCount == 0)
            ActivateBuffers();
        else if (FRecordCount < FBufferCount)
            ++FRecordCount;
        else
            MoveBuffer(0, FRecordCount);
        FCurrentRecord = FRecordCount - 1;
    } else {
        CursorPosChanged();
    }
    return ok;
}

bool TDataSet::GetPriorRecord() {
    CheckBiDirectional();
    if (FRecordCount > 0) SetCurrentRecord(0);
    bool ok = GetRecord(FBuffers[FRecordCount], gmPrior, true) == grOK;
    if (ok) {
        if (FRecordCount == 0) {
            ActivateBuffers();
        } else {
            MoveBuffer(FRecordCount, 0);
            if (FRecordCount < FBufferCount) {
                ++FRecordCount;
                ++FActiveRecord;
            }
        }
        FCurrentRecord = 0;
    } else {
        CursorPosChanged();
    }
    return ok;
}

int TDataSet::GetNextRecords() {
    int result = 0;
    while (FRecordCount < FBufferCount && GetNextRecord()) ++result;
    return result;
}

int TDataSet::GetPriorRecords() {
    int result = 0;
    if (FIsUniDirectional) return result;
    while (FRecordCount < FBufferCount && GetPriorRecord()) ++result;
    return result;
}

// ---- Navigation ------------------------------------------------------------------------

void TDataSet::CheckBiDirectional() const {
    if (FIsUniDirectional) DatabaseError(SDataSetUnidirectional, this);
}

void TDataSet::First() {
    CheckBrowseMode();
    DoBeforeScroll();
    ClearBuffers();
    try {
        InternalFirst();
        GetNextRecord();
        GetNextRecords();
    } catch (...) {
        FBOF = true;
        DataEvent(deDataSetChange, 0);
        throw;
    }
    FBOF = true;
    DataEvent(deDataSetChange, 0);
    DoAfterScroll();
}

void TDataSet::Last() {
    CheckBiDirectional();
    CheckBrowseMode();
    DoBeforeScroll();
    ClearBuffers();
    try {
        InternalLast();
        GetPriorRecord();
        GetPriorRecords();
    } catch (...) {
        FEOF = true;
        DataEvent(deDataSetChange, 0);
        throw;
    }
    FEOF = true;
    DataEvent(deDataSetChange, 0);
    DoAfterScroll();
}

int TDataSet::MoveBy(int Distance) {
    CheckBrowseMode();
    int result = 0;
    DoBeforeScroll();
    if ((Distance > 0 && !FEOF) || (Distance < 0 && !FBOF)) {
        FBOF = false;
        FEOF = false;
        // How far the buffered records moved inside the ring: links move their
        // windows by the same amount.
        int scrollCount = 0;
        try {
            while (Distance > 0) {
                if (FActiveRecord < FRecordCount - 1) {
                    ++FActiveRecord;
                } else {
                    int before = FRecordCount;
                    if (!GetNextRecord()) {
                        FEOF = true;
                        break;
                    }
                    if (FRecordCount > before)
                        FActiveRecord = FRecordCount - 1;
                    else
                        --scrollCount;
                }
                --Distance;
                ++result;
            }
            while (Distance < 0) {
                if (FActiveRecord > 0) {
                    --FActiveRecord;
                } else {
                    if (!GetPriorRecord()) {
                        FBOF = true;
                        break;
                    }
                    // The new record went in at index 0 and everything else moved up.
                    FActiveRecord = 0;
                    ++scrollCount;
                }
                ++Distance;
                --result;
            }
        } catch (...) {
            DataEvent(deDataSetScroll, scrollCount);
            throw;
        }
        DataEvent(deDataSetScroll, scrollCount);
        DoAfterScroll();
    }
    return result;
}

void TDataSet::Resync(TResyncMode Mode) {
    if (FIsUniDirectional) return;
    TRecordBuffer spare = FBuffers[FRecordCount];
    if (Mode.Contains(rmExact)) {
        CursorPosChanged();
        if (GetRecord(spare, gmCurrent, true) != grOK) DatabaseError(SRecordNotFound, this);
    } else if (GetRecord(spare, gmCurrent, false) != grOK && GetRecord(spare, gmNext, false) != grOK &&
               GetRecord(spare, gmPrior, false) != grOK) {
        ClearBuffers();
        DataEvent(deDataSetChange, 0);
        return;
    }
    int count = Mode.Contains(rmCenter) ? (FBufferCount - 1) / 2 : FActiveRecord;
    MoveBuffer(FRecordCount, 0);
    ActivateBuffers();
    FCurrentRecord = 0;
    try {
        while (count > 0 && GetPriorRecord()) --count;
        GetNextRecords();
        GetPriorRecords();
    } catch (...) {
        DataEvent(deDataSetChange, 0);
        throw;
    }
    DataEvent(deDataSetChange, 0);
}

void TDataSet::Refresh() {
    CheckBrowseMode();
    DoBeforeRefresh();
    UpdateCursorPos();
    InternalRefresh();
    Resync({});
    DoAfterRefresh();
}

// ---- Bookmarks ---------------------------------------------------------------------------

bool TDataSet::BookmarkAvailable() {
    return (FState == dsBrowse || FState == dsEdit || FState == dsInsert) && !IsEmpty() &&
           GetBookmarkFlag(ActiveBuffer()) == bfCurrent;
}

TBookmark TDataSet::GetBookmark() {
    if (!BookmarkAvailable() || FBookmarkSize <= 0) return nullptr;
    TBookmark result = new Byte[FBookmarkSize]();
    try {
        GetBookmarkData(ActiveBuffer(), result);
    } catch (...) {
        delete[] result;
        throw;
    }
    return result;
}

void TDataSet::FreeBookmark(TBookmark Bookmark) { delete[] Bookmark; }

void TDataSet::GotoBookmark(TBookmark Bookmark) {
    if (!Bookmark) return;
    CheckBrowseMode();
    DoBeforeScroll();
    InternalGotoBookmark(Bookmark);
    Resync({rmExact, rmCenter});
    DoAfterScroll();
}

TBookmarkStr TDataSet::GetBookmarkStr() {
    if (!BookmarkAvailable() || FBookmarkSize <= 0) return {};
    TBookmarkStr result(FBookmarkSize, '\0');
    GetBookmarkData(ActiveBuffer(), result.data());
    return result;
}

void TDataSet::SetBookmarkStr(const TBookmarkStr& Value) {
    if (Value.empty()) return;
    // A bookmark of another size did not come from this dataset; reading it
    // would run past its end.
    if (static_cast<int>(Value.size()) != FBookmarkSize)
        DatabaseErrorFmt(SBookmarkSizeMismatch, {static_cast<int>(Value.size()), FBookmarkSize}, this);
    std::vector<Byte> copy(Value.begin(), Value.end());
    GotoBookmark(copy.data());
}

}  // namespace Db
