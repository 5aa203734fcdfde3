-- The "dispatcher" database of the lab server host. Safe to run again: nothing is dropped.
CREATE DATABASE IF NOT EXISTS dispatcher CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci;
USE dispatcher;

CREATE TABLE IF NOT EXISTS options (
    name  VARCHAR(64)  NOT NULL PRIMARY KEY,
    value VARCHAR(255) NOT NULL DEFAULT ''
) ENGINE=InnoDB;

-- One row per conference that ended; has_record=1 when it was recorded. The list queries
-- filter on has_record and the time window and sort by the start, so the two covering
-- indexes let them walk the index in order without touching the xml column.
CREATE TABLE IF NOT EXISTS cdr (
    id          BIGINT UNSIGNED NOT NULL AUTO_INCREMENT PRIMARY KEY,
    starttime   TIMESTAMP NULL DEFAULT NULL,
    startrecord TIMESTAMP NULL DEFAULT NULL,
    endtime     TIMESTAMP NULL DEFAULT NULL,
    conference  VARCHAR(255) NOT NULL DEFAULT '',
    has_record  TINYINT(1) NOT NULL DEFAULT 0,
    xml         MEDIUMTEXT,
    KEY cdr_by_startrecord (has_record, startrecord, endtime, conference),
    KEY cdr_by_starttime (has_record, starttime, endtime, conference)
) ENGINE=InnoDB;

-- Direct recordings of calls between two users.
CREATE TABLE IF NOT EXISTS recordings (
    id        BIGINT UNSIGNED NOT NULL AUTO_INCREMENT PRIMARY KEY,
    starttime TIMESTAMP NULL DEFAULT NULL,
    endtime   TIMESTAMP NULL DEFAULT NULL,
    caller    VARCHAR(255) NOT NULL DEFAULT '',
    callee    VARCHAR(255) NOT NULL DEFAULT '',
    filename  VARCHAR(1024) NOT NULL DEFAULT '',
    KEY recordings_by_starttime (starttime, endtime, caller, callee)
) ENGINE=InnoDB;
