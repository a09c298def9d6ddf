// The running flag of a program and the stop logic shared by the controller and its
// servers. A stop signal (SIGTERM, SIGINT) clears the flag once and sends SIGALRM to
// every registered thread; SIGALRM has an empty handler installed without SA_RESTART,
// so a thread blocked in read, open, select or ioctl returns with EINTR, tests the
// flag and leaves its loop. SIGPIPE is ignored so that a write to a FIFO whose reader
// went away fails with EPIPE instead of ending the program.
#pragma once

#include <pthread.h>

// The most threads a program registers for the stop wake-up.
inline constexpr int kMaxWakeThreads = 16;

// True from InstallStopHandlers() (or SetRunning(true)) until the first stop.
bool IsRunning();
void SetRunning(bool running);

// Installs the stop, wake-up and SIGPIPE dispositions and sets the running flag.
// Returns 0, or -1 when sigaction failed (errno set).
int InstallStopHandlers();

// Adds a thread that the stop must wake with SIGALRM. Returns 0, or -1 when the table
// is full.
int RegisterWakeThread(pthread_t thread);

// Adds an eventfd that the stop must signal: a thread that sleeps on one (the router)
// wakes even when the stop comes just before it starts to wait. Returns 0, or -1 when
// the table is full.
int RegisterWakeFd(int fd);

// Clears the running flag and wakes every registered thread and eventfd, once; later
// calls do nothing. This is what the stop signal handler does; it is
// async-signal-safe.
void RequestStop();

// Joins `thread`. After a stop it wakes the thread with SIGALRM again every 20 ms
// until it ends: a thread that tested the running flag just before the stop's one
// wake-up and only then started to block would otherwise never see it. While the
// program runs it looks at the flag once a second.
void JoinThread(pthread_t thread);

// Forgets the registered threads and eventfds (tests, and a program that restarts its
// threads). Registration happens on one thread, the one that starts the others.
void ClearWakeThreads();
