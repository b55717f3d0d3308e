#pragma once
// Functions in this file:
//   quoteSpaces        a path in double quotes when it holds a blank
//   stepOutcomeText    "OK" or "Failed" and the line end that close a step line
//   copyingFileText    "Copying File  <path>..."
//   installFailedText  "Installation failed (Error Code <code>)."
//   clickNextText      "Click on 'Next' to continue."
//   progressPercent    the progress bar's position for a byte count
//   fullWidthLine      a heading centred between dashes, or a separator
//
// The texts the install log and status line show, in the current language.
// The install sequence and the install page both build them here, so the
// window and the recording display of the tests see the same words.

#include <cstdint>
#include <functional>
#include <string>
#include <system_error>

namespace qv {

// PathQuoteSpacesW on a copy cut to 259 characters: quoted only when the
// quotes still fit a 260-character buffer.
std::wstring quoteSpaces(const std::wstring& path);

// Text 1011 ("OK") or 1012 ("Failed"), followed by CR LF.
std::wstring stepOutcomeText(bool ok);

// Text 1115 with the destination, quoted when it holds a blank.
std::wstring copyingFileText(const std::wstring& destination);

// Text 1121 with the error text: errorCodeText for an extraction error, or
// the temporary folder's own text ("00000000 (GetTempPath)").
std::wstring installFailedText(const std::error_code& code);
std::wstring installFailedText(const std::wstring& errorText);

// Text 1106 with text 1006 ("Next").
std::wstring clickNextText();

// floor(done / total * 100 + 0.5), but 99 while done < total, so that a
// full bar means every byte is written. A total of 0 gives 0.
int progressPercent(std::uint64_t done, std::uint64_t total);

// The log's full-width form of a text: " text " centred between dashes, or,
// for an empty text, a line of dashes; always ended by CR LF. measure gives
// a string's width in the same unit as availableWidth (pixels of the log's
// font on the page). A text wider than the space gets no dashes.
std::wstring fullWidthLine(const std::wstring& text, int availableWidth,
                           const std::function<int(const std::wstring&)>& measure);

}  // namespace qv
