#pragma once
// The library's optional exports (the additions in velk430.h). They are
// looked up as weak symbols: a library that lacks them leaves them null, and
// the station then does without what they answer (no check before the port
// opens, no reason or meaning under an error). On Windows the same would be
// GetProcAddress on the loaded library.

#include <cstdint>
#include <string>

struct CLibraryAdditions {
    int32_t (*CheckSetup)(char* port, int32_t baud, char* device, char* path, int32_t eraseInfo,
                          int32_t serialAddress, int32_t serialCount, int32_t blowFuse) = nullptr;
    int32_t (*GetLastErrorText)(char* text, int32_t size) = nullptr;
    int32_t (*GetResultText)(int32_t code, char* text, int32_t size) = nullptr;
};

// What the loaded library offers.
const CLibraryAdditions& LibraryAdditions();
// Puts others in their place and returns the ones before: a test runs the
// library's own answers in-process beside a fake library that has none.
CLibraryAdditions SetLibraryAdditions(const CLibraryAdditions& additions);

// The library's reason for its last call's failure; "" when it gave none.
std::string LibraryReason();
// "<code in decimal>: <what it means and what to do>"; "" for a code the
// library does not explain.
std::string ResultMeaning(int32_t code);
