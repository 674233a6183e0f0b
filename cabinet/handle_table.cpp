#include "handle_table.h"

#include "embedded_file.h"

static CabStreamState s_streamState;

CabStreamState& StreamState() {
    return s_streamState;
}

UINT DIAMONDAPI CabRead(INT_PTR hf, void* pv, UINT cb) {
    const int r = ReadCabFile(hf, pv, cb);
    CabStreamState& state = StreamState();
    const int i = state.map.Find(hf);
    if (i < 0 || hf == 0 || hf == -1)
        return static_cast<UINT>(r);
    const int32_t start = state.map.Get(i);
    if (start < 0)
        return static_cast<UINT>(r); // offset unknown since a failed seek
    if (state.keyLength != 0 && r > 0)
        UnmaskChunk(static_cast<unsigned char*>(pv), static_cast<uint32_t>(r), state.key,
                    state.keyLength, start);
    state.map.Set(hf, start + r); // the pair exists: cannot overflow
    return static_cast<UINT>(r);
}

LONG DIAMONDAPI CabSeek(INT_PTR hf, LONG dist, int seektype) {
    const LONG p = SeekCabFile(hf, dist, seektype);
    CabStreamState& state = StreamState();
    if (hf != 0 && hf != -1 && state.map.Find(hf) >= 0)
        state.map.Set(hf, p);
    return p;
}

int DIAMONDAPI CabClose(INT_PTR hf) {
    const int r = CloseCabFile(hf);
    CabStreamState& state = StreamState();
    const int i = state.map.Find(hf);
    if (i >= 0)
        state.map.RemoveAt(i);
    return r;
}
