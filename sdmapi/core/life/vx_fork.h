// The library across a fork() of the process.
//
// A program may fork at any moment, from any thread, while the library is
// loaded, and use the library in the child. Two things would stand in the
// way. A lock that another thread holds at the fork would stay held in the
// child for ever, since that thread does not exist there. And some of what
// the library loaded is the parent's alone: its slot in the shared data file
// (counted for its process), its event thread, its netlink sockets (a reply
// goes to whichever process reads first) and its signal watcher.
//
// So a fork takes every lock of the process in the lock order of vx_load.h
// before it and releases them after it, in the parent and in the child. The
// lock of the public API comes first: the fork waits for a call that
// another thread is running, and the child never sees a change half made.
// The child is marked, and its first call that takes the lock of the public
// API makes the library its own (vxapi_after_fork_in_child): it keeps the
// ports it had open, with their handles and descriptors, and takes a slot,
// netlink sockets and, where the parent ran one, an event thread of its own,
// without touching the parent's. The child's calls and its unload therefore
// never wait for the parent's threads, and its unload releases only what is
// its own: the parent's slot, flash update token, semaphores and shared
// file stay the parent's. The clean-up on signals that the child inherited
// leaves the parent's watcher alone (vx_signal.cpp).
#pragma once

// Installs the handlers of a fork, once in the process. Every call that
// takes the lock of the public API installs them first, and so does the one
// call that traces without that lock (SDGetVersion): no lock of the library
// is held before.
void vxapi_install_fork_handlers();

// In a forked child, true once: for the first caller after the fork, who
// then makes the library the child's own (vxapi_after_fork_in_child).
[[nodiscard]] bool vxapi_take_fork_mark();
