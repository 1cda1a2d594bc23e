/* Names of the SQL functions that the SQLite dialect module provides. Shared by the module
 * and by the connection's query rewriting, so the two never drift apart. */
#ifndef AURALINK_DIALECT_FUNCTION_NAMES_H
#define AURALINK_DIALECT_FUNCTION_NAMES_H

/* CONVERT(uniqueidentifier, x): 16 bytes or identifier text -> canonical identifier text. */
#define AURALINK_GUID_TEXT_FUNCTION "auralink_guid_text"
/* CONVERT(varbinary, x): identifier text -> its 16 bytes; binary passes through. */
#define AURALINK_GUID_BINARY_FUNCTION "auralink_guid_binary"

#endif
