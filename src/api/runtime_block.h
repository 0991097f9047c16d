#pragma once

// Writes "runtime":{"available":...,"bin":...,"label":...} with no comma on
// either side. When available is 0, bin and label are written as empty
// strings whatever they hold.
void emit_runtime_block(const char *bin, const char *label, int available);
