// Report-descriptor parsing, registered once per descriptor fixture of the hidparse tests.
#pragma once

namespace quorvel::bench {

void RegisterDescriptorBenchmarks();

}  // namespace quorvel::bench
