// The vertex program over many vertices at once. A loaded program is
// lowered once into steps, each one operation on one register component
// (a slot of kLanes floats, one per vertex): no token, swizzle, mask or
// register kind is looked at while vertices run, components the program
// never writes cost nothing, and every step is SIMD arithmetic across the
// lanes. Each lane does exactly the float operations of VertexProgram::Run
// in the same order (no contraction, no reassociation), so the outputs are
// the same bits.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <new>

#include "platform/gfx/vertex_shader.h"

namespace platform {

using namespace shader;

namespace {

// What a step does to its slots.
enum StepOp : uint8_t {
    kStepCopy,      // d = s0
    kStepNeg,       // d = -s0
    kStepAdd,       // d = s0 + s1
    kStepSub,
    kStepMul,
    kStepMad,       // d = s0 * s1 + s2
    kStepMin,
    kStepMax,
    kStepSlt,
    kStepSge,
    kStepDot3,      // d = s0 s3 + s1 s4 + s2 s5
    kStepDot3Zero,  // the same plus 0 (the three-component matrix rows)
    kStepDot4,      // d = s0 s4 + s1 s5 + s2 s6 + s3 s7
    kStepRcp,
    kStepRsq,
    kStepFrc,
    kStepScalar,    // d .. d+3 = ScalarStep(aux, s0..s3, s4..s7)
    kStepLoadRel,   // d .. d+3 = c[s0 + a0] swizzled by s1, negated when aux is set
    kStepSetA0,     // a0 = floor(s0), bounded
    kStepZero,      // d = 0
};

// Slots a lowered instruction takes for its own use are numbered from here
// until the program's constants are counted, then moved past them.
constexpr uint16_t kScratchMark = 0x8000;
// And the slots of constant rows read through a0, placed after the scratch.
constexpr uint16_t kRowMark = 0x4000;

int MatrixRowsOf(uint32_t op, bool* four)
{
    *four = op == OpM4x4 || op == OpM4x3;
    switch (op) {
    case OpM4x4: return 4;
    case OpM4x3: return 3;
    case OpM3x4: return 4;
    case OpM3x3: return 3;
    case OpM3x2: return 2;
    default: return 0;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Lowering

bool VertexProgram::Lower()
{
    using Step = VertexProgram::Step;
    try {
        std::vector<Step> out;
        std::map<uint32_t, uint16_t> splatSlots;   // (reg x 4 + component) x 2 + negate
        std::vector<Splat> splatList;
        uint16_t scratchUsed = 0;
        uint16_t scratch = 0;
        // Temporary slots written so far, and those read before any write
        // (they start every run at zero, as Run's temporaries do).
        bool written[4 * kVertexTemps] = {};
        bool readFirst[4 * kVertexTemps] = {};
        // Constant rows read through a0: each (row, swizzle, negation) has
        // four slots of its own, loaded again after every change of a0.
        std::map<uint32_t, uint16_t> rowSlots;
        std::map<uint32_t, bool> rowLoaded;
        uint16_t rowsUsed = 0;
        uint64_t outputs = 0;

        auto fresh = [&]() {
            const uint16_t s = static_cast<uint16_t>(kScratchMark | scratch++);
            scratchUsed = std::max(scratchUsed, scratch);
            return s;
        };
        auto emit = [&](uint8_t op, uint16_t d, std::initializer_list<uint16_t> s, uint8_t aux = 0) {
            Step st;
            st.op = op;
            st.aux = aux;
            st.d = d;
            int k = 0;
            for (uint16_t x : s) {
                st.s[k++] = x;
            }
            out.push_back(st);
        };
        // The slot holding component `component` of a source, row `row`
        // further on, as Run reads it: past the end of its file a register
        // reads as zero; negation and relative addresses take a step.
        auto slotOf = [&](const Source& s, int row, int component) -> uint16_t {
            const int sw = s.swizzle[component];
            const int base = s.index + row;
            if (s.relative) {
                const uint32_t swizzle = s.swizzle[0] | s.swizzle[1] << 2 | s.swizzle[2] << 4 | s.swizzle[3] << 6;
                const uint32_t key = (static_cast<uint32_t>(base) << 9) | (swizzle << 1) | (s.negate ? 1 : 0);
                auto it = rowSlots.find(key);
                if (it == rowSlots.end()) {
                    it = rowSlots.emplace(key, static_cast<uint16_t>(kRowMark | rowsUsed)).first;
                    rowsUsed = static_cast<uint16_t>(rowsUsed + 4);
                }
                if (!rowLoaded[key]) {
                    emit(kStepLoadRel, it->second, {static_cast<uint16_t>(base), static_cast<uint16_t>(swizzle)},
                         s.negate ? 1 : 0);
                    rowLoaded[key] = true;
                }
                return static_cast<uint16_t>(it->second + component);
            }
            if (s.kind == RegConst) {
                if (base >= kVertexConstants) {
                    return s.negate ? VertexRun::kNegZeroSlot : VertexRun::kZeroSlot;
                }
                const uint32_t key = (static_cast<uint32_t>(base) * 4 + sw) * 2 + (s.negate ? 1 : 0);
                auto it = splatSlots.find(key);
                if (it == splatSlots.end()) {
                    Splat sp;
                    sp.slot = static_cast<uint16_t>(splatList.size());
                    sp.reg = static_cast<uint8_t>(base);
                    sp.component = static_cast<uint8_t>(sw);
                    sp.negate = s.negate;
                    splatList.push_back(sp);
                    it = splatSlots.emplace(key, sp.slot).first;
                }
                return static_cast<uint16_t>(VertexRun::kFirstFreeSlot + it->second);
            }
            uint16_t slot = 0;
            if (s.kind == RegTemp) {
                if (base >= kVertexTemps) {
                    return s.negate ? VertexRun::kNegZeroSlot : VertexRun::kZeroSlot;
                }
                slot = static_cast<uint16_t>(VertexRun::kTempSlot + 4 * base + sw);
                if (!written[slot - VertexRun::kTempSlot]) {
                    readFirst[slot - VertexRun::kTempSlot] = true;
                }
            } else {
                if (base >= kVertexInputs) {
                    return s.negate ? VertexRun::kNegZeroSlot : VertexRun::kZeroSlot;
                }
                slot = static_cast<uint16_t>(VertexRun::kInputSlot + 4 * base + sw);
            }
            if (s.negate) {
                const uint16_t d = fresh();
                emit(kStepNeg, d, {slot});
                return d;
            }
            return slot;
        };

        for (const Instruction& in : instructions) {
            if (in.op == OpNop) {
                continue;
            }
            scratch = 0;
            // The result components wanted and where each goes.
            uint8_t need = 0;
            uint16_t dest[4] = {};
            int outBase = -1;
            switch (in.destKind) {
            case RegTemp:
                need = in.mask;
                for (int c = 0; c < 4; ++c) {
                    dest[c] = static_cast<uint16_t>(VertexRun::kTempSlot + 4 * in.destIndex + c);
                }
                break;
            case RegAddress: need = 1; break;
            case RegRasterOut:
                if (in.destIndex == OutPosition) {
                    need = in.mask;
                    outBase = 0;
                } else {
                    // Fog and point size take x whatever the mask.
                    need = 1;
                    dest[0] = static_cast<uint16_t>(VertexRun::kOutputSlot + (in.destIndex == OutFog ? 44 : 45));
                }
                break;
            case RegAttributeOut:
                need = in.mask;
                outBase = 4 + 4 * in.destIndex;
                break;
            default:
                need = in.mask;
                outBase = 12 + 4 * in.destIndex;
                break;
            }
            if (outBase >= 0) {
                for (int c = 0; c < 4; ++c) {
                    dest[c] = static_cast<uint16_t>(VertexRun::kOutputSlot + outBase + c);
                }
            }
            if (in.destKind == RegAddress) {
                // Only mov writes a0: x of its source, floored.
                emit(kStepSetA0, 0, {slotOf(in.src[0], 0, 0)});
                rowLoaded.clear();
                continue;
            }
            // The steps that compute result components from sources, planned
            // first so that a destination overwritten before a later
            // component reads it can be spotted.
            struct Plan {
                uint8_t op;
                uint8_t component;
                uint16_t s[8];
                int n;
            };
            Plan plan[4];
            int planned = 0;
            // Results computed once and copied to every wanted component.
            bool broadcast = false;
            switch (in.op) {
            case OpMov:
            case OpAdd:
            case OpSub:
            case OpMul:
            case OpMad:
            case OpMin:
            case OpMax:
            case OpSlt:
            case OpSge:
            case OpFrc: {
                static const uint8_t kOps[] = {0,        kStepCopy, kStepAdd, kStepSub, kStepMad, kStepMul, 0,
                                               0,        0,         0,        kStepMin, kStepMax, kStepSlt, kStepSge};
                const uint8_t op = in.op == OpFrc ? static_cast<uint8_t>(kStepFrc) : kOps[in.op];
                for (int c = 0; c < 4; ++c) {
                    if (need & (1u << c)) {
                        Plan& p = plan[planned++];
                        p.op = op;
                        p.component = static_cast<uint8_t>(c);
                        p.n = in.sourceCount;
                        for (int k = 0; k < in.sourceCount && k < 3; ++k) {
                            p.s[k] = slotOf(in.src[k], 0, c);
                        }
                    }
                }
                break;
            }
            case OpDp3:
            case OpDp4: {
                const int n = in.op == OpDp3 ? 3 : 4;
                Plan& p = plan[planned++];
                p.op = in.op == OpDp3 ? kStepDot3 : kStepDot4;
                p.n = 2 * n;
                for (int c = 0; c < n; ++c) {
                    p.s[c] = slotOf(in.src[0], 0, c);
                    p.s[n + c] = slotOf(in.src[1], 0, c);
                }
                broadcast = true;
                break;
            }
            case OpRcp:
            case OpRsq: {
                Plan& p = plan[planned++];
                p.op = in.op == OpRcp ? kStepRcp : kStepRsq;
                p.n = 1;
                p.s[0] = slotOf(in.src[0], 0, 3);
                broadcast = true;
                break;
            }
            case OpExp:
            case OpLog:
            case OpExpP:
            case OpLogP:
            case OpLit:
            case OpDst: {
                uint16_t s[8];
                for (int c = 0; c < 4; ++c) {
                    s[c] = in.sourceCount > 0 ? slotOf(in.src[0], 0, c) : uint16_t(VertexRun::kZeroSlot);
                    s[4 + c] = in.sourceCount > 1 ? slotOf(in.src[1], 0, c) : uint16_t(VertexRun::kZeroSlot);
                }
                // Four results side by side, then copied where wanted.
                const uint16_t r = fresh();
                for (int c = 1; c < 4; ++c) {
                    fresh();
                }
                emit(kStepScalar, r, {s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7]}, static_cast<uint8_t>(in.op));
                for (int c = 0; c < 4; ++c) {
                    if (need & (1u << c)) {
                        emit(kStepCopy, dest[c], {static_cast<uint16_t>(r + c)});
                    }
                }
                break;
            }
            default: {
                bool four = false;
                const int rows = MatrixRowsOf(in.op, &four);
                const int n = four ? 4 : 3;
                uint16_t s0[4];
                for (int c = 0; c < n; ++c) {
                    s0[c] = slotOf(in.src[0], 0, c);
                }
                for (int c = 0; c < 4; ++c) {
                    if (!(need & (1u << c))) {
                        continue;
                    }
                    Plan& p = plan[planned++];
                    p.component = static_cast<uint8_t>(c);
                    if (c >= rows) {
                        // Rows the macro does not have come out zero.
                        p.op = kStepCopy;
                        p.n = 1;
                        p.s[0] = VertexRun::kZeroSlot;
                        continue;
                    }
                    p.op = four ? kStepDot4 : kStepDot3Zero;
                    p.n = 2 * n;
                    for (int k = 0; k < n; ++k) {
                        p.s[k] = s0[k];
                        p.s[n + k] = slotOf(in.src[1], c, k);
                    }
                }
                break;
            }
            }
            if (planned > 0 && broadcast) {
                int first = 0;
                while (!(need & (1u << first))) {
                    ++first;
                }
                const Plan& p = plan[0];
                Step st;
                st.op = p.op;
                st.d = dest[first];
                std::copy(p.s, p.s + p.n, st.s);
                out.push_back(st);
                for (int c = first + 1; c < 4; ++c) {
                    if (need & (1u << c)) {
                        emit(kStepCopy, dest[c], {dest[first]});
                    }
                }
            } else if (planned > 0) {
                // A component written before a later one reads its slot:
                // compute every component aside first.
                bool clash = false;
                for (int i = 1; i < planned && !clash; ++i) {
                    for (int j = 0; j < i && !clash; ++j) {
                        for (int k = 0; k < plan[i].n; ++k) {
                            clash = clash || plan[i].s[k] == dest[plan[j].component];
                        }
                    }
                }
                uint16_t target[4];
                for (int i = 0; i < planned; ++i) {
                    target[i] = clash ? fresh() : dest[plan[i].component];
                    Step st;
                    st.op = plan[i].op;
                    st.d = target[i];
                    std::copy(plan[i].s, plan[i].s + plan[i].n, st.s);
                    out.push_back(st);
                }
                if (clash) {
                    for (int i = 0; i < planned; ++i) {
                        emit(kStepCopy, dest[plan[i].component], {target[i]});
                    }
                }
            }
            for (int c = 0; c < 4; ++c) {
                if (!(need & (1u << c))) {
                    continue;
                }
                if (in.destKind == RegTemp) {
                    written[4 * in.destIndex + c] = true;
                } else if (dest[c] >= VertexRun::kOutputSlot &&
                           dest[c] < VertexRun::kOutputSlot + VertexRun::kOutputs) {
                    outputs |= 1ull << (dest[c] - VertexRun::kOutputSlot);
                }
            }
        }

        // Temporaries read before they are written and written later must
        // be zero again at the start of every run.
        std::vector<Step> program;
        for (int k = 0; k < 4 * kVertexTemps; ++k) {
            if (readFirst[k] && written[k]) {
                Step st;
                st.op = kStepZero;
                st.d = static_cast<uint16_t>(VertexRun::kTempSlot + k);
                program.push_back(st);
            }
        }
        // Scratch slots go after the constants.
        const uint16_t scratchBase = static_cast<uint16_t>(VertexRun::kFirstFreeSlot + splatList.size());
        const uint16_t rowBase = static_cast<uint16_t>(scratchBase + scratchUsed);
        auto place = [&](uint16_t& slot) {
            if (slot & kScratchMark) {
                slot = static_cast<uint16_t>(scratchBase + (slot & ~kScratchMark));
            } else if (slot & kRowMark) {
                slot = static_cast<uint16_t>(rowBase + (slot & ~kRowMark));
            }
        };
        for (Step st : out) {
            place(st.d);
            if (st.op != kStepLoadRel) {
                for (uint16_t& s : st.s) {
                    place(s);
                }
            }
            program.push_back(st);
        }
        for (Splat& sp : splatList) {
            sp.slot = static_cast<uint16_t>(VertexRun::kFirstFreeSlot + sp.slot);
        }
        steps = std::move(program);
        splats = std::move(splatList);
        slotCount = static_cast<uint32_t>(rowBase) + rowsUsed;
        outputMask = outputs;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Running

bool VertexRun::Begin(const VertexProgram& p, const float (*c)[4])
{
    program = nullptr;
    if (!p.IsLoaded()) {
        return false;
    }
    try {
        if (slots.size() < p.slotCount) {
            slots.resize(p.slotCount);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    // Temporaries start at zero, as Run's do, whatever an earlier program
    // left in them; the other slots a program reads are set below or
    // written by its steps before they are read.
    for (int k = 0; k < 4 * kVertexTemps; ++k) {
        std::fill(slots[kTempSlot + k].lane, slots[kTempSlot + k].lane + kLanes, 0.0f);
    }
    std::fill(slots[kZeroSlot].lane, slots[kZeroSlot].lane + kLanes, 0.0f);
    std::memcpy(constants, c, sizeof constants);
    for (const VertexProgram::Splat& sp : p.splats) {
        const float v = c[sp.reg][sp.component];
        std::fill(slots[sp.slot].lane, slots[sp.slot].lane + kLanes, sp.negate ? -v : v);
    }
    std::fill(slots[kNegZeroSlot].lane, slots[kNegZeroSlot].lane + kLanes, -0.0f);
    // Outputs the program leaves alone keep their starting values; the
    // others are written by every run.
    const VertexShaderOutput start;
    float values[kOutputs];
    std::memcpy(values, &start, sizeof values);
    static_assert(sizeof(VertexShaderOutput) == sizeof values, "the outputs are kOutputs floats");
    for (int k = 0; k < kOutputs; ++k) {
        std::fill(slots[kOutputSlot + k].lane, slots[kOutputSlot + k].lane + kLanes, values[k]);
    }
    program = &p;
    return true;
}

void VertexRun::SetInputs(int lane, const float (*inputs)[4])
{
    for (int r = 0; r < kVertexInputs; ++r) {
        for (int c = 0; c < 4; ++c) {
            slots[kInputSlot + 4 * r + c].lane[lane] = inputs[r][c];
        }
    }
}

void VertexRun::GetOutput(int lane, VertexShaderOutput* out) const
{
    float values[kOutputs];
    for (int k = 0; k < kOutputs; ++k) {
        values[k] = slots[kOutputSlot + k].lane[lane];
    }
    std::memcpy(out, values, sizeof values);
}

namespace {

// Eight lanes of a float: the compiler's vector type, so that every step
// below is SIMD arithmetic on each lane alone (the same IEEE operation the
// one-vertex run does on its float).
typedef float V __attribute__((vector_size(32), aligned(32), may_alias));
typedef int VI __attribute__((vector_size(32), aligned(32), may_alias));
constexpr int kVectors = VertexRun::kLanes / 8;
static_assert(VertexRun::kLanes % 8 == 0, "a slot is whole 8-float vectors");

// a where the lane's mask is set, else b, by the bits: a conditional
// expression on vectors may be folded into a minimum or maximum, which
// differ from the one-vertex code on zeros of both signs and on NaNs.
#define ORVA_SPLAT(x) (V{(x), (x), (x), (x), (x), (x), (x), (x)})
#define ORVA_SELECT(mask, a, b) ((V)(((VI)(a) & (mask)) | ((VI)(b) & ~(mask))))
#define ORVA_INLINE inline __attribute__((always_inline))

}  // namespace

// The steps over the register file, inlined into one copy for processors
// with AVX2 and one for any x86-64.
template <typename SlotT>
ORVA_INLINE static void RunSteps(const VertexProgram::Step* step, const VertexProgram::Step* end, SlotT* slots,
                                 const float (*constants)[4], int32_t* a0,
                                 void (*scalarStep)(uint32_t, const float (*)[4], float*))
{
    constexpr int kLanes = VertexRun::kLanes;
    auto vec = [slots](uint16_t s) { return reinterpret_cast<V*>(slots[s].lane); };
    const V one = ORVA_SPLAT(1.0f);
    const V zero = V{};
    for (; step != end; ++step) {
        const VertexProgram::Step& st = *step;
        V* d = vec(st.d);
        const V* a = vec(st.s[0]);
        const V* b = vec(st.s[1]);
        switch (st.op) {
        case kStepCopy:
            for (int k = 0; k < kVectors; ++k) d[k] = a[k];
            break;
        case kStepNeg:
            for (int k = 0; k < kVectors; ++k) d[k] = -a[k];
            break;
        case kStepAdd:
            for (int k = 0; k < kVectors; ++k) d[k] = a[k] + b[k];
            break;
        case kStepSub:
            for (int k = 0; k < kVectors; ++k) d[k] = a[k] - b[k];
            break;
        case kStepMul:
            for (int k = 0; k < kVectors; ++k) d[k] = a[k] * b[k];
            break;
        case kStepMad: {
            const V* c = vec(st.s[2]);
            for (int k = 0; k < kVectors; ++k) d[k] = a[k] * b[k] + c[k];
            break;
        }
        case kStepMin:
            for (int k = 0; k < kVectors; ++k) d[k] = ORVA_SELECT(a[k] < b[k], a[k], b[k]);
            break;
        case kStepMax:
            for (int k = 0; k < kVectors; ++k) d[k] = ORVA_SELECT(a[k] >= b[k], a[k], b[k]);
            break;
        case kStepSlt:
            for (int k = 0; k < kVectors; ++k) d[k] = ORVA_SELECT(a[k] < b[k], one, zero);
            break;
        case kStepSge:
            for (int k = 0; k < kVectors; ++k) d[k] = ORVA_SELECT(a[k] >= b[k], one, zero);
            break;
        case kStepDot3:
        case kStepDot3Zero: {
            const V* c = vec(st.s[2]);
            const V* x = vec(st.s[3]);
            const V* y = vec(st.s[4]);
            const V* z = vec(st.s[5]);
            for (int k = 0; k < kVectors; ++k) {
                const V dot = a[k] * x[k] + b[k] * y[k] + c[k] * z[k];
                d[k] = st.op == kStepDot3 ? dot : dot + zero;
            }
            break;
        }
        case kStepDot4: {
            const V* c = vec(st.s[2]);
            const V* e = vec(st.s[3]);
            const V* x = vec(st.s[4]);
            const V* y = vec(st.s[5]);
            const V* z = vec(st.s[6]);
            const V* w = vec(st.s[7]);
            for (int k = 0; k < kVectors; ++k) d[k] = a[k] * x[k] + b[k] * y[k] + c[k] * z[k] + e[k] * w[k];
            break;
        }
        case kStepRcp: {
            const V inf = ORVA_SPLAT(std::numeric_limits<float>::infinity());
            for (int k = 0; k < kVectors; ++k) {
                const V x = a[k];
                d[k] = ORVA_SELECT(x == one, one, ORVA_SELECT(x == zero, inf, one / x));
            }
            break;
        }
        case kStepRsq: {
            const float* x = slots[st.s[0]].lane;
            float* r = slots[st.d].lane;
            for (int l = 0; l < kLanes; ++l) {
                const float m = std::fabs(x[l]);
                r[l] = m == 1.0f ? 1.0f : m == 0.0f ? std::numeric_limits<float>::infinity() : 1.0f / std::sqrt(m);
            }
            break;
        }
        case kStepFrc: {
            const float* x = slots[st.s[0]].lane;
            float* r = slots[st.d].lane;
            for (int l = 0; l < kLanes; ++l) {
                r[l] = x[l] - std::floor(x[l]);
            }
            break;
        }
        case kStepScalar:
            // Rare steps: one vertex at a time through the one-vertex code.
            for (int l = 0; l < kLanes; ++l) {
                float s[3][4] = {};
                for (int c = 0; c < 4; ++c) {
                    s[0][c] = slots[st.s[c]].lane[l];
                    s[1][c] = slots[st.s[4 + c]].lane[l];
                }
                float r[4] = {0.0f, 0.0f, 0.0f, 0.0f};
                scalarStep(st.aux, s, r);
                for (int c = 0; c < 4; ++c) {
                    slots[st.d + c].lane[l] = r[c];
                }
            }
            break;
        case kStepLoadRel: {
            static const float kZero[4] = {0.0f, 0.0f, 0.0f, 0.0f};
            float* r[4];
            int sw[4];
            for (int c = 0; c < 4; ++c) {
                r[c] = slots[st.d + c].lane;
                sw[c] = (st.s[1] >> (2 * c)) & 3;
            }
            for (int l = 0; l < kLanes; ++l) {
                const int64_t index = static_cast<int64_t>(st.s[0]) + a0[l];
                const float* row = index >= 0 && index < kVertexConstants ? constants[index] : kZero;
                for (int c = 0; c < 4; ++c) {
                    r[c][l] = st.aux ? -row[sw[c]] : row[sw[c]];
                }
            }
            break;
        }
        case kStepSetA0: {
            const float* x = slots[st.s[0]].lane;
            for (int l = 0; l < kLanes; ++l) {
                // Floor, bounded so that an absurd value still addresses nothing.
                a0[l] = std::isfinite(x[l]) ? static_cast<int>(std::clamp(std::floor(x[l]), -4096.0f, 4096.0f)) : 4096;
            }
            break;
        }
        case kStepZero:
            for (int k = 0; k < kVectors; ++k) d[k] = zero;
            break;
        default: break;
        }
    }
}

__attribute__((target("avx2"))) void VertexRun::RunAvx2()
{
    // Every vertex starts with a0 at zero, as Run's do, whatever the
    // vertices of the batch before left in it.
    std::fill(a0, a0 + kLanes, 0);
    RunSteps(program->steps.data(), program->steps.data() + program->steps.size(), slots.data(), constants, a0,
             &VertexProgram::ScalarStep);
}

void VertexRun::RunPortable()
{
    if (program == nullptr) {
        return;
    }
    std::fill(a0, a0 + kLanes, 0);
    RunSteps(program->steps.data(), program->steps.data() + program->steps.size(), slots.data(), constants, a0,
             &VertexProgram::ScalarStep);
}

void VertexRun::Run()
{
    static const bool wide = __builtin_cpu_supports("avx2");
    if (program == nullptr) {
        return;
    }
    if (wide) {
        RunAvx2();
    } else {
        RunPortable();
    }
}

}  // namespace platform
