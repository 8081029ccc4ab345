// Files that misbehave on request.  A program linked with file_faults
// replaces openat and read; once armed:
// - opening an entry named "vanishing" (a file or a directory) moves it to
//   another directory first;
// - opening an entry named "broken" fails with EMFILE, as when the process
//   has no descriptor left;
// - reading a file whose name ends in "unreadable" fails with EIO;
// - reading a file whose name begins with "slow" waits 100 ms first;
// - reading a file whose name begins with "growing" or "shrinking" while
//   its size is even first makes it one byte longer or shorter.
// Every thread sees the same faults.
#ifndef TESTS_SUPPORT_FILE_FAULTS_H
#define TESTS_SUPPORT_FILE_FAULTS_H

#include <string>

namespace file_faults {

// Arms the faults; vanishing entries go to the directory elsewhere.
void arm(const std::string &elsewhere);
void disarm();
// Entries moved away since the last arm.
int moved();

} // namespace file_faults

#endif
