-- The stand-in repository: the three tables of the management framework's repository
-- that Auralink reads, in SQLite. Identifiers are 16-byte binary values, as in the
-- framework's own database; the SQLite dialect module converts them to and from their
-- uniqueidentifier text.

-- The status texts that objects refer to by number.
CREATE TABLE tng_status (
  status_no   INTEGER NOT NULL PRIMARY KEY,
  status_text VARCHAR(64) NOT NULL
);

-- One row per managed object.
CREATE TABLE tng_managedobject (
  uuid         BLOB NOT NULL CHECK (typeof(uuid) = 'blob' AND length(uuid) = 16),
  name         VARCHAR(255) NOT NULL,
  label        VARCHAR(255),
  address      VARCHAR(64),
  address_type INTEGER,
  class_name   VARCHAR(64) NOT NULL,
  severity     INTEGER NOT NULL,
  date_ins     DATETIME NOT NULL,
  date_modify  DATETIME NOT NULL,
  status_no    INTEGER NOT NULL
);

-- One row per parent of a child object; objects without a parent have none.
CREATE TABLE tng_inclusion (
  child_uuid   BLOB NOT NULL CHECK (typeof(child_uuid) = 'blob' AND length(child_uuid) = 16),
  parent_class VARCHAR(64) NOT NULL,
  parent_uuid  BLOB NOT NULL CHECK (typeof(parent_uuid) = 'blob' AND length(parent_uuid) = 16)
);

-- An object is fetched by its uuid (unique: the table's key) and joined with its parents
-- by child_uuid; enumeration selects by class.
CREATE UNIQUE INDEX tng_managedobject_uuid ON tng_managedobject (uuid);
CREATE INDEX tng_inclusion_child ON tng_inclusion (child_uuid);
CREATE INDEX tng_inclusion_parent ON tng_inclusion (parent_uuid);
CREATE INDEX tng_managedobject_class ON tng_managedobject (class_name);
