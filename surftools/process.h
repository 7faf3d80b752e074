// How a tool's process uses the machine: its memory and its threads.
#pragma once

// Lets every thread allocate from one heap that grows in large steps, which
// the system backs with huge pages where it can, and keeps what is freed for
// later allocations instead of returning it: a tool that reads a surface of
// a few hundred thousand cells and builds arrays over it then spends far
// less of its time on page faults. Call first thing in main; changes nothing
// else.
void UseLargeHeap();

// The other way round, for a tool judged by its memory: every block of
// 128 KB or more is mapped on its own and given back to the system as soon
// as it is freed (glibc would otherwise raise that size as blocks are freed
// and keep them), so that the arrays a tool builds after reading a surface
// take the place of the reader's buffers rather than coming on top of what
// those left behind. Call first thing in main, instead of UseLargeHeap.
void UseCompactHeap();

// Keeps VTK's own error and warning text off the terminal, unless the
// variable SURFTOOLS_VTK_ERRORS is 1: the tools say in one line what went
// wrong. VTK's messages still reach the observer that refuses unreadable
// files (UpdateWithoutErrors). Call first thing in main.
void QuietVtk();

// Keeps VTK's own loops (bounds, ranges) on the calling thread: VTK would
// otherwise spread them over threads of its own. With it, a tool that starts
// no thread itself runs on one. Call first thing in main.
void UseOneThread();
