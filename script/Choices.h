// The components ([Components]) and tasks ([Tasks]) a script offers, and
// what this run makes of them. An action section given for one of them
// ([Files:docs], [Shortcuts:desktopicon]) runs only when it is chosen.
// Portable: no platform headers.
#pragma once

struct SetupChoice {
  char* Name;         // as in the script; a section header names it after a colon
  char* Description;  // shown beside its checkbox
  int Task;           // 1 for a line of [Tasks], 0 for one of [Components]
  int Fixed;          // "fixed": always installed, shown checked and greyed
  int Unchecked;      // "unchecked": offered, not chosen unless asked for
  int Chosen;         // installed by this run
  unsigned long long Bytes;  // what its [Files:name] lines store; 0 for a task
};
