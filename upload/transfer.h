// The passive-mode transfer of one local file into the current remote directory.
#ifndef VARDEK_UPLOAD_TRANSFER_H_
#define VARDEK_UPLOAD_TRANSFER_H_

#include <cstdint>
#include <string>

#include "upload/control.h"
#include "upload/listing.h"
#include "upload/run_state.h"

// Sends the entry's file of LocalDir into the current remote directory with TYPE I, PASV and
// STOR; a failure stops the walk.
void UploadFile(RunState& run, const std::string& LocalDir, const ListingEntry& entry);
// EPSV on an IPv6 control connection, PASV on an IPv4 one.
const char* PassiveCommand(const RunState& run);
// Connects DataConnection to the port that a PASV or EPSV reply names, on the control
// connection's host; the fields come from the reply's first line that holds a parenthesised
// group.
bool OpenPassiveData(RunState& run, const Reply& reply);
// The port of a PASV reply: six comma-separated fields between the first "(" and the first ")",
// the last two integers from 0 to 255. False when the reply is malformed.
bool ParsePassivePort(const std::string& reply, int* port);
// The port of an EPSV reply (RFC 2428): "(|||port|)", any printable character but a digit
// standing for "|". False when the reply is malformed or the port is not 1 to 65535.
bool ParseExtendedPassivePort(const std::string& reply, int* port);
// Integer syntax of the port fields: leading blanks, then a signed decimal number or a
// hexadecimal one after $, x, X, 0x or 0X; nothing may follow the digits.
bool ParseInteger(const std::string& text, std::int64_t* value);

#endif  // VARDEK_UPLOAD_TRANSFER_H_
