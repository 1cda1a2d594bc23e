/* A loadable SQLite module that lets a SQLite database stand in for a SQL Server one:
 * it gives the two CONVERT forms that the repository queries use a function each.
 *
 * A uniqueidentifier is kept as 16 bytes b0..b15. Its text form is the one SQL Server
 * shows: b3b2b1b0-b5b4-b7b6-b8b9-b10b11b12b13b14b15 in upper-case hexadecimal (the first
 * three groups are little-endian numbers). Text -> bytes -> text is exact.
 *
 * SQLite has no uniqueidentifier type, so the text form plays its part: converting text
 * to varbinary reads it as an identifier, and text that is not one fails the statement
 * with SQL Server's own message. */
#include <sqlite3ext.h>
SQLITE_EXTENSION_INIT1

#include <stdio.h>
#include <string.h>

#include "dialect_function_names.h"

#define GUID_BYTES 16
#define GUID_TEXT_LENGTH 36

static const char kNotAnIdentifier[] = "Conversion failed when converting from a character string to uniqueidentifier.";

/* Byte index for each pair of hex digits of the text form, in text order. */
static const int kTextByteOrder[GUID_BYTES] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};

static int HexDigitValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

/* Parses "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", optionally in braces, either letter case. */
static int ParseIdentifierText(const unsigned char* text, int length, unsigned char bytes[GUID_BYTES]) {
  int pos = 0, pair = 0;
  if (length == GUID_TEXT_LENGTH + 2) {
    if (text[0] != '{' || text[length - 1] != '}') return 0;
    ++text;
    length -= 2;
  }
  if (length != GUID_TEXT_LENGTH) return 0;
  while (pos < GUID_TEXT_LENGTH) {
    if (pos == 8 || pos == 13 || pos == 18 || pos == 23) {
      if (text[pos] != '-') return 0;
      ++pos;
      continue;
    }
    int high = HexDigitValue(text[pos]), low = HexDigitValue(text[pos + 1]);
    if (high < 0 || low < 0) return 0;
    bytes[kTextByteOrder[pair++]] = (unsigned char)(high << 4 | low);
    pos += 2;
  }
  return 1;
}

static void FormatIdentifierText(const unsigned char bytes[GUID_BYTES], char text[GUID_TEXT_LENGTH + 1]) {
  static const char kHex[] = "0123456789ABCDEF";
  int pos = 0;
  for (int pair = 0; pair < GUID_BYTES; ++pair) {
    if (pos == 8 || pos == 13 || pos == 18 || pos == 23) text[pos++] = '-';
    unsigned char b = bytes[kTextByteOrder[pair]];
    text[pos++] = kHex[b >> 4];
    text[pos++] = kHex[b & 0xF];
  }
  text[pos] = '\0';
}

static void ReportWrongType(sqlite3_context* context, sqlite3_value* value, const char* target) {
  char message[128];
  const char* source = sqlite3_value_type(value) == SQLITE_INTEGER ? "int" : "float";
  snprintf(message, sizeof message, "Explicit conversion from data type %s to %s is not allowed.", source, target);
  sqlite3_result_error(context, message, -1);
}

/* CONVERT(uniqueidentifier, x): 16 bytes or identifier text -> upper-case identifier text. */
static void GuidText(sqlite3_context* context, int argc, sqlite3_value** argv) {
  unsigned char bytes[GUID_BYTES];
  char text[GUID_TEXT_LENGTH + 1];
  (void)argc;
  switch (sqlite3_value_type(argv[0])) {
    case SQLITE_NULL:
      sqlite3_result_null(context);
      return;
    case SQLITE_BLOB: {
      int length = sqlite3_value_bytes(argv[0]);
      if (length != GUID_BYTES) {
        char message[128];
        snprintf(message, sizeof message,
                 "Conversion of a binary value of %d bytes to uniqueidentifier failed: 16 bytes are needed.", length);
        sqlite3_result_error(context, message, -1);
        return;
      }
      memcpy(bytes, sqlite3_value_blob(argv[0]), GUID_BYTES);
      break;
    }
    case SQLITE_TEXT:
      if (!ParseIdentifierText(sqlite3_value_text(argv[0]), sqlite3_value_bytes(argv[0]), bytes)) {
        sqlite3_result_error(context, kNotAnIdentifier, -1);
        return;
      }
      break;
    default:
      ReportWrongType(context, argv[0], "uniqueidentifier");
      return;
  }
  FormatIdentifierText(bytes, text);
  sqlite3_result_text(context, text, GUID_TEXT_LENGTH, SQLITE_TRANSIENT);
}

/* CONVERT(varbinary, x): identifier text -> its 16 bytes; binary is returned unchanged. */
static void GuidBinary(sqlite3_context* context, int argc, sqlite3_value** argv) {
  unsigned char bytes[GUID_BYTES];
  (void)argc;
  switch (sqlite3_value_type(argv[0])) {
    case SQLITE_NULL:
      sqlite3_result_null(context);
      return;
    case SQLITE_BLOB:
      sqlite3_result_value(context, argv[0]);
      return;
    case SQLITE_TEXT:
      if (!ParseIdentifierText(sqlite3_value_text(argv[0]), sqlite3_value_bytes(argv[0]), bytes)) {
        sqlite3_result_error(context, kNotAnIdentifier, -1);
        return;
      }
      sqlite3_result_blob(context, bytes, GUID_BYTES, SQLITE_TRANSIENT);
      return;
    default:
      ReportWrongType(context, argv[0], "varbinary");
      return;
  }
}

#ifndef SQLITE_INNOCUOUS
#define SQLITE_INNOCUOUS 0
#endif

#ifdef __GNUC__
#define AURALINK_EXPORT __attribute__((visibility("default")))
#else
#define AURALINK_EXPORT
#endif

/* Deterministic, so SQLite evaluates a call on constants once and can use the uuid index. */
static int RegisterFunctions(sqlite3* db, char** errorMessage) {
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
  int rc = sqlite3_create_function(db, AURALINK_GUID_TEXT_FUNCTION, 1, flags, NULL, GuidText, NULL, NULL);
  if (rc == SQLITE_OK)
    rc = sqlite3_create_function(db, AURALINK_GUID_BINARY_FUNCTION, 1, flags, NULL, GuidBinary, NULL, NULL);
  if (rc != SQLITE_OK && errorMessage) *errorMessage = sqlite3_mprintf("%s", sqlite3_errmsg(db));
  return rc;
}

/* Every connection that loads the module hands over SQLite's table of routines, and the
 * usual SQLITE_EXTENSION_INIT2 stores it each time, racing with other connections' threads
 * that are calling the functions. The table is the same for every connection of the
 * process, so the first one is kept and later loads only read it (with the ordering that
 * makes their calls see it). */
static void KeepRoutines(const sqlite3_api_routines* api) {
  const sqlite3_api_routines* unset = NULL;
  if (__atomic_load_n(&sqlite3_api, __ATOMIC_ACQUIRE) == NULL)
    __atomic_compare_exchange_n(&sqlite3_api, &unset, api, 0, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE);
}

/* Entry point under the default name, and under the name SQLite derives from the file
 * name, so the module loads whichever way it is named. */
AURALINK_EXPORT int sqlite3_extension_init(sqlite3* db, char** errorMessage, const sqlite3_api_routines* api) {
  KeepRoutines(api);
  return RegisterFunctions(db, errorMessage);
}

AURALINK_EXPORT int sqlite3_auralinksqlitedialect_init(sqlite3* db, char** errorMessage,
                                                       const sqlite3_api_routines* api) {
  KeepRoutines(api);
  return RegisterFunctions(db, errorMessage);
}
