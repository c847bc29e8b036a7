// The Layer III IMDCTs, x[i] = sum_k X[k] cos(pi / (2n) (2i + 1 + n/2) (2k + 1))
// for n = 36 (18 lines) and n = 12 (6 values), each output multiplied by its
// window coefficient: out[i] = window[i] x[i]. Computed through fast cosine
// transforms, two subbands at once as the filterbank runs them (in0 to
// out0, in1 to out1); the tables must be ready (initLayer3Tables).
#pragma once

namespace kuv {

void imdct36Pair(const double* in0, const double* in1, const double* window, double* out0, double* out1);
void imdct12Pair(const double* in0, const double* in1, const double* window, double* out0, double* out1);

}  // namespace kuv
