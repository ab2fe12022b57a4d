#pragma once

namespace tarnis {

/// The ways the repair can look for dropouts. All give the same bytes; by default the repair takes
/// the fastest the processor has (AVX2 on x86-64, 64-bit words elsewhere). Not part of the repair's
/// interface: the fuzzer and the benchmarks choose one to hold it against the others.
enum class DropoutScan { Fastest, Words };
void useDropoutScan(DropoutScan scan);

} // namespace tarnis
