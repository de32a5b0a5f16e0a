#pragma once

// Control of the file-system fault shim (fault_shim.c). The shim stands in front of the C
// library's file calls (open, read, write, flush, sync, close, rename, lock, truncate, mkdir,
// and their stdio forms) and, while armed, counts them and makes one of them fail.
//
// Linked into a program, the functions below arm it. Preloaded into another program
// (LD_PRELOAD), it arms itself at start-up when GENPLOT_FAULT_AT is set (0: count only; N: the
// N-th call fails) and writes the number of calls it saw into the file GENPLOT_FAULT_COUNT_FILE
// names when the program exits.

#ifdef __cplusplus
extern "C"
{
#endif

    /// Starts counting file calls from zero; the `failAt`-th one fails (0: none fails).
    void genplot_fault_arm(long failAt);

    /// Stops counting; the number of file calls seen since genplot_fault_arm.
    long genplot_fault_disarm(void);

#ifdef __cplusplus
}
#endif
