#pragma once
// The installer's session: what start-up finds on the machine and what the
// user chooses. The record itself is the application object CInstallApp
// (app/InstallApp.h); this header holds the values that live beside it for
// the whole process, and the application title.
//
// There is no locking: every reader and writer runs on the one user-interface
// thread.

#include <cstdint>
#include <string>

namespace qv {

// What start-up found installed. The values are stored and compared as
// numbers elsewhere, so they are fixed.
enum class InstallState : std::int32_t {
    NotInstalled = 0,  // no installed program was found
    SameVersion = 1,   // version 6.4.0.2, or no readable version: a reinstallation
    OlderVersion = 2,  // older than 6.4.0.2: an update
    NewerVersion = -1, // newer than 6.4.0.2: the wizard only informs
};

// Family × 256 + major version of the product this installer carries; the
// application object assigns it again when it is constructed.
extern std::uint32_t productCode;

// The identifier of the installer's product line, which names the global
// synchronisation objects; determined by the application initialisation
// (determineApplicationId) before the application object exists.
std::wstring& applicationId();

// Set by the load-time processor check; start-up refuses to run without it.
extern bool processorChecked;

// String 1000 ("Installer"), " – " and the product label with its version,
// in the current language: Installer – Trimora 6.04.
std::wstring buildAppTitle();

// Rebuilds the title and makes it the application's name (the caption of its
// message boxes). Does nothing before the application object exists.
void refreshAppTitle();

}  // namespace qv
