// The vertex program over many vertices at once: each instruction runs
// across a batch of vertices before the next, the registers held component
// by component with one lane per vertex, so that the compiler turns every
// step into SIMD arithmetic. Each lane does exactly the float operations of
// VertexProgram::Run in the same order (no contraction, no reassociation),
// so the outputs are the same bits.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/gfx/vertex_shader.h"

namespace platform {

using namespace shader;

namespace {

constexpr int kLanes = VertexProgram::kBatchLanes;
static_assert(kLanes == 8, "one register component is one 8-float vector");

// Eight lanes of a float: the compiler's vector type, so that every step
// below is SIMD arithmetic on each lane alone (the same IEEE operation the
// one-vertex run does on its float).
typedef float V __attribute__((vector_size(32), aligned(32)));
typedef int VI __attribute__((vector_size(32), aligned(32)));

// a where the lane's mask is set, else b, by the bits: a conditional
// expression on vectors may be folded into a minimum or maximum, which
// differ from the one-vertex code on zeros of both signs and on NaNs.
// Every lane x (adding x to a zero vector would turn -0 into +0).
#define ORVA_SPLAT(x) (V{(x), (x), (x), (x), (x), (x), (x), (x)})
#define ORVA_SELECT(mask, a, b) ((V)(((VI)(a) & (mask)) | ((VI)(b) & ~(mask))))

// One register of every vertex of the batch.
struct Lanes {
    V c[4];
};

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

struct State {
    Lanes temps[kVertexTemps];
    Lanes in[kVertexInputs];
    Lanes pos, dif, spe, tex[kVertexTexCoords];
    V fog, psize;
    int a0[kLanes];
};

#define ORVA_INLINE inline __attribute__((always_inline))

// Reads a source, row `row` further on (matrix rows), as Run does: past the
// end of its file a register reads as zero. A temporary or input register
// read whole, unswizzled and not negated, is used where it is; anything
// else is written into v. Returns where the value is.
ORVA_INLINE const Lanes* Read(const State& st, const float (*constants)[4], const VertexProgram::Source& s, int row,
                              Lanes& v)
{
    static const float kZero[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    if (s.relative) {
        // Only constants are addressed through a0, lane by lane.
        for (int l = 0; l < kLanes; ++l) {
            const int64_t base = static_cast<int64_t>(s.index) + row + st.a0[l];
            const float* r = base >= 0 && base < kVertexConstants ? constants[base] : kZero;
            for (int c = 0; c < 4; ++c) {
                v.c[c][l] = s.negate ? -r[s.swizzle[c]] : r[s.swizzle[c]];
            }
        }
        return &v;
    }
    const int64_t base = static_cast<int64_t>(s.index) + row;
    if (s.kind == RegConst) {
        const float* r = base >= 0 && base < kVertexConstants ? constants[base] : kZero;
        for (int c = 0; c < 4; ++c) {
            const float x = s.negate ? -r[s.swizzle[c]] : r[s.swizzle[c]];
            v.c[c] = ORVA_SPLAT(x);
        }
        return &v;
    }
    const Lanes* r = nullptr;
    if (s.kind == RegTemp) {
        r = base < kVertexTemps ? &st.temps[base] : nullptr;
    } else {
        r = base < kVertexInputs ? &st.in[base] : nullptr;
    }
    if (r == nullptr) {
        for (int c = 0; c < 4; ++c) {
            v.c[c] = ORVA_SPLAT((s.negate ? -0.0f : 0.0f));
        }
        return &v;
    }
    if (!s.negate && s.swizzle[0] == 0 && s.swizzle[1] == 1 && s.swizzle[2] == 2 && s.swizzle[3] == 3) {
        return r;
    }
    for (int c = 0; c < 4; ++c) {
        if (s.negate) {
            v.c[c] = -r->c[s.swizzle[c]];
        } else {
            v.c[c] = r->c[s.swizzle[c]];
        }
    }
    return &v;
}

}  // namespace

// The body of RunBatch, inlined into one copy for the processor's widest
// vectors and one for any x86-64.
ORVA_INLINE void VertexProgram::BatchBody(const float (*constants)[4], const float (*inputs)[kVertexInputs][4],
                                          int count, VertexShaderOutput* out) const
{
    alignas(32) State st;
    std::memset(st.temps, 0, sizeof st.temps);
    for (int r = 0; r < kVertexInputs; ++r) {
        if (!((inputMask >> r) & 1u)) {
            continue;
        }
        for (int c = 0; c < 4; ++c) {
            for (int l = 0; l < kLanes; ++l) {
                st.in[r].c[c][l] = l < count ? inputs[l][r][c] : 0.0f;
            }
        }
    }
    // The texture coordinate sets the program writes; the others keep the
    // values VertexShaderOutput starts them with.
    uint32_t texWritten = 0;
    for (const Instruction& ins : instructions) {
        if (ins.destKind == RegTexCoordOut && ins.op != OpNop) {
            texWritten |= 1u << ins.destIndex;
        }
    }
    const VertexShaderOutput start;
    for (int c = 0; c < 4; ++c) {
        st.pos.c[c] = ORVA_SPLAT(start.position[c]);
        st.dif.c[c] = ORVA_SPLAT(start.diffuse[c]);
        st.spe.c[c] = ORVA_SPLAT(start.specular[c]);
        for (int t = 0; t < kVertexTexCoords; ++t) {
            if ((texWritten >> t) & 1u) {
                st.tex[t].c[c] = ORVA_SPLAT(start.texCoord[t][c]);
            }
        }
    }
    st.fog = ORVA_SPLAT(start.fog);
    st.psize = ORVA_SPLAT(start.pointSize);
    for (int l = 0; l < kLanes; ++l) {
        st.a0[l] = 0;
    }

    const V one = ORVA_SPLAT(1.0f);
    const V zero = V{};
    Lanes scratch[3];
    const Lanes* sp[3] = {&scratch[0], &scratch[1], &scratch[2]};
    Lanes r;
    for (const Instruction& ins : instructions) {
        if (ins.op == OpNop) {
            continue;
        }
        for (int k = 0; k < ins.sourceCount && k < 3; ++k) {
            sp[k] = Read(st, constants, ins.src[k], 0, scratch[k]);
        }
        switch (ins.op) {
        case OpMov: r = *sp[0]; break;
        case OpAdd:
            for (int c = 0; c < 4; ++c) r.c[c] = sp[0]->c[c] + sp[1]->c[c];
            break;
        case OpSub:
            for (int c = 0; c < 4; ++c) r.c[c] = sp[0]->c[c] - sp[1]->c[c];
            break;
        case OpMul:
            for (int c = 0; c < 4; ++c) r.c[c] = sp[0]->c[c] * sp[1]->c[c];
            break;
        case OpMad:
            for (int c = 0; c < 4; ++c) r.c[c] = sp[0]->c[c] * sp[1]->c[c] + sp[2]->c[c];
            break;
        case OpMin:
            for (int c = 0; c < 4; ++c) r.c[c] = ORVA_SELECT(sp[0]->c[c] < sp[1]->c[c], sp[0]->c[c], sp[1]->c[c]);
            break;
        case OpMax:
            for (int c = 0; c < 4; ++c) r.c[c] = ORVA_SELECT(sp[0]->c[c] >= sp[1]->c[c], sp[0]->c[c], sp[1]->c[c]);
            break;
        case OpSlt:
            for (int c = 0; c < 4; ++c) r.c[c] = ORVA_SELECT(sp[0]->c[c] < sp[1]->c[c], one, zero);
            break;
        case OpSge:
            for (int c = 0; c < 4; ++c) r.c[c] = ORVA_SELECT(sp[0]->c[c] >= sp[1]->c[c], one, zero);
            break;
        case OpDp3: {
            const V d = sp[0]->c[0] * sp[1]->c[0] + sp[0]->c[1] * sp[1]->c[1] + sp[0]->c[2] * sp[1]->c[2];
            r.c[0] = r.c[1] = r.c[2] = r.c[3] = d;
            break;
        }
        case OpDp4: {
            const V d = sp[0]->c[0] * sp[1]->c[0] + sp[0]->c[1] * sp[1]->c[1] + sp[0]->c[2] * sp[1]->c[2] + sp[0]->c[3] * sp[1]->c[3];
            r.c[0] = r.c[1] = r.c[2] = r.c[3] = d;
            break;
        }
        case OpRcp: {
            const V x = sp[0]->c[3];
            const V inf = ORVA_SPLAT(std::numeric_limits<float>::infinity());
            const V f = ORVA_SELECT(x == one, one, ORVA_SELECT(x == zero, inf, one / x));
            r.c[0] = r.c[1] = r.c[2] = r.c[3] = f;
            break;
        }
        case OpRsq:
            for (int l = 0; l < kLanes; ++l) {
                const float a = std::fabs(sp[0]->c[3][l]);
                const float f = a == 1.0f ? 1.0f : a == 0.0f ? std::numeric_limits<float>::infinity()
                                                             : 1.0f / std::sqrt(a);
                for (int c = 0; c < 4; ++c) {
                    r.c[c][l] = f;
                }
            }
            break;
        case OpFrc:
            for (int c = 0; c < 4; ++c)
                for (int l = 0; l < kLanes; ++l) r.c[c][l] = sp[0]->c[c][l] - std::floor(sp[0]->c[c][l]);
            break;
        case OpExp:
        case OpLog:
        case OpExpP:
        case OpLogP:
        case OpLit:
        case OpDst: {
            // Rare steps: one vertex at a time through the one-vertex code.
            for (int l = 0; l < kLanes; ++l) {
                float one3[3][4] = {};
                float res[4] = {0.0f, 0.0f, 0.0f, 0.0f};
                for (int k = 0; k < ins.sourceCount && k < 3; ++k) {
                    for (int c = 0; c < 4; ++c) {
                        one3[k][c] = sp[k]->c[c][l];
                    }
                }
                ScalarStep(ins.op, one3, res);
                for (int c = 0; c < 4; ++c) {
                    r.c[c][l] = res[c];
                }
            }
            break;
        }
        default: {
            bool four = false;
            const int rows = MatrixRowsOf(ins.op, &four);
            Lanes rowScratch;
            for (int row = 0; row < rows; ++row) {
                const Lanes& m = *Read(st, constants, ins.src[1], row, rowScratch);
                if (four) {
                    r.c[row] = sp[0]->c[0] * m.c[0] + sp[0]->c[1] * m.c[1] + sp[0]->c[2] * m.c[2] + sp[0]->c[3] * m.c[3];
                } else {
                    r.c[row] = sp[0]->c[0] * m.c[0] + sp[0]->c[1] * m.c[1] + sp[0]->c[2] * m.c[2] + zero;
                }
            }
            for (int row = rows; row < 4; ++row) {
                r.c[row] = zero;
            }
            break;
        }
        }
        Lanes* dest = nullptr;
        switch (ins.destKind) {
        case RegTemp: dest = &st.temps[ins.destIndex]; break;
        case RegAddress:
            for (int l = 0; l < kLanes; ++l) {
                const float x = r.c[0][l];
                st.a0[l] = std::isfinite(x) ? static_cast<int>(std::clamp(std::floor(x), -4096.0f, 4096.0f)) : 4096;
            }
            continue;
        case RegRasterOut:
            if (ins.destIndex == OutPosition) {
                dest = &st.pos;
            } else {
                (ins.destIndex == OutFog ? st.fog : st.psize) = r.c[0];
                continue;
            }
            break;
        case RegAttributeOut: dest = ins.destIndex == 0 ? &st.dif : &st.spe; break;
        default: dest = &st.tex[ins.destIndex]; break;
        }
        for (int c = 0; c < 4; ++c) {
            if (ins.mask & (1u << c)) {
                dest->c[c] = r.c[c];
            }
        }
    }
    for (int l = 0; l < count; ++l) {
        VertexShaderOutput& o = out[l];
        o = start;
        for (int c = 0; c < 4; ++c) {
            o.position[c] = st.pos.c[c][l];
            o.diffuse[c] = st.dif.c[c][l];
            o.specular[c] = st.spe.c[c][l];
        }
        for (int t = 0; t < kVertexTexCoords; ++t) {
            if ((texWritten >> t) & 1u) {
                for (int c = 0; c < 4; ++c) {
                    o.texCoord[t][c] = st.tex[t].c[c][l];
                }
            }
        }
        o.fog = st.fog[l];
        o.pointSize = st.psize[l];
    }
}

__attribute__((target("avx2"))) void VertexProgram::BatchAvx2(const float (*constants)[4],
                                                               const float (*inputs)[kVertexInputs][4], int count,
                                                               VertexShaderOutput* out) const
{
    BatchBody(constants, inputs, count, out);
}

void VertexProgram::BatchPlain(const float (*constants)[4], const float (*inputs)[kVertexInputs][4], int count,
                               VertexShaderOutput* out) const
{
    BatchBody(constants, inputs, count, out);
}

void VertexProgram::RunBatch(const float (*constants)[4], const float (*inputs)[kVertexInputs][4], int count,
                             VertexShaderOutput* out) const
{
    static const bool wide = __builtin_cpu_supports("avx2");
    count = std::clamp(count, 0, kLanes);
    if (wide) {
        BatchAvx2(constants, inputs, count, out);
    } else {
        BatchPlain(constants, inputs, count, out);
    }
}

}  // namespace platform
