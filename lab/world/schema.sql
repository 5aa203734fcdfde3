-- The "dispatcher" database of the lab server host. Safe to run again: no data is dropped.
CREATE DATABASE IF NOT EXISTS dispatcher CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci;
USE dispatcher;

CREATE TABLE IF NOT EXISTS options (
    name  VARCHAR(64)  NOT NULL PRIMARY KEY,
    value VARCHAR(255) NOT NULL DEFAULT ''
) ENGINE=InnoDB;

-- One row per conference that ended; has_record=1 when it was recorded. The recordings list
-- filters on has_record and the time window and sorts by the start and id: the covering indexes
-- by start let it read the rows in that order without touching the xml column, from the
-- window's start less the longest recording ("record_seconds", from the start the list shows to
-- the end, whose index gives the longest at once).
CREATE TABLE IF NOT EXISTS cdr (
    id             BIGINT UNSIGNED NOT NULL AUTO_INCREMENT PRIMARY KEY,
    starttime      TIMESTAMP NULL DEFAULT NULL,
    startrecord    TIMESTAMP NULL DEFAULT NULL,
    endtime        TIMESTAMP NULL DEFAULT NULL,
    conference     VARCHAR(255) NOT NULL DEFAULT '',
    has_record     TINYINT(1) NOT NULL DEFAULT 0,
    xml            MEDIUMTEXT,
    record_seconds INT AS (TIMESTAMPDIFF(SECOND, startrecord, endtime)) VIRTUAL,
    KEY cdr_by_startrecord_id (has_record, startrecord, id, endtime, conference),
    KEY cdr_by_starttime_id (has_record, starttime, id, endtime, conference),
    KEY cdr_by_record_seconds (has_record, record_seconds)
) ENGINE=InnoDB;

-- Direct recordings of calls between two users.
CREATE TABLE IF NOT EXISTS recordings (
    id             BIGINT UNSIGNED NOT NULL AUTO_INCREMENT PRIMARY KEY,
    starttime      TIMESTAMP NULL DEFAULT NULL,
    endtime        TIMESTAMP NULL DEFAULT NULL,
    caller         VARCHAR(255) NOT NULL DEFAULT '',
    callee         VARCHAR(255) NOT NULL DEFAULT '',
    filename       VARCHAR(1024) NOT NULL DEFAULT '',
    record_seconds INT AS (TIMESTAMPDIFF(SECOND, starttime, endtime)) VIRTUAL,
    KEY recordings_by_starttime_id (starttime, id, endtime, caller, callee),
    KEY recordings_by_record_seconds (record_seconds)
) ENGINE=InnoDB;

-- A lab set up before the list read by start and id gets the same columns and indexes once;
-- on one that has them this changes nothing.
ALTER TABLE cdr DROP INDEX IF EXISTS cdr_by_startrecord, DROP INDEX IF EXISTS cdr_by_starttime,
    ADD COLUMN IF NOT EXISTS record_seconds INT AS (TIMESTAMPDIFF(SECOND, startrecord, endtime)) VIRTUAL,
    ADD INDEX IF NOT EXISTS cdr_by_startrecord_id (has_record, startrecord, id, endtime, conference),
    ADD INDEX IF NOT EXISTS cdr_by_starttime_id (has_record, starttime, id, endtime, conference),
    ADD INDEX IF NOT EXISTS cdr_by_record_seconds (has_record, record_seconds);
ALTER TABLE recordings DROP INDEX IF EXISTS recordings_by_starttime,
    ADD COLUMN IF NOT EXISTS record_seconds INT AS (TIMESTAMPDIFF(SECOND, starttime, endtime)) VIRTUAL,
    ADD INDEX IF NOT EXISTS recordings_by_starttime_id (starttime, id, endtime, caller, callee),
    ADD INDEX IF NOT EXISTS recordings_by_record_seconds (record_seconds);
