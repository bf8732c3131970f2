-- The catalog template bkpDEF.mdb is built from this file. The program never
-- alters tables; a new catalog is a copy of the template. The only tables it
-- creates are those of the scan choices (SCANPAT, SCANOPT), made by
-- catalog/scan_rules.cpp when first written.
-- Codes are TEXT and compare as text ("01" is not "1"); names compare
-- byte for byte (BINARY collation), as Linux file names do.

CREATE TABLE BKPDIR (
    DIRNO   INTEGER NOT NULL UNIQUE,
    DIR     TEXT,
    BKPDIR  TEXT,
    KBN     TEXT,
    BIKOU   TEXT,
    ABKP    TEXT,
    CHK1    TEXT,
    CHK2    TEXT
);

CREATE TABLE BKPNAME (
    BKPNO   INTEGER NOT NULL UNIQUE,
    BKPNAME TEXT,
    KBN     TEXT,
    DAY1    TEXT,   -- yyyy-mm-dd
    TIME1   TEXT    -- hh:mm:ss
);

CREATE TABLE AUTODEF (
    BKPNO   INTEGER,
    DIRNO   INTEGER,
    BIKOU   TEXT
);

CREATE TABLE KBNDEF (
    KBN     INTEGER NOT NULL,
    ID      TEXT NOT NULL,
    NAIYOU  TEXT,
    PRIMARY KEY (KBN, ID)
);

CREATE TABLE FILEKANRI (
    BKPNO    INTEGER,
    DIRNO    INTEGER,
    LVL      INTEGER,
    DIR      TEXT,
    FILENM   TEXT,
    FCRDATE  INTEGER,
    FCRTIME  INTEGER,
    FCRDAYD  TEXT,
    FCRTIMED TEXT,
    FUPDATE  INTEGER,
    FUPTIME  INTEGER,
    FUPDAYD  TEXT,
    FUPTIMED TEXT,
    FSIZE    INTEGER,
    FVERNO   TEXT,
    FMVER    INTEGER,
    FLVER    INTEGER,
    PVERNO   TEXT,
    PMVER    INTEGER,
    PLVER    INTEGER,
    KBN1     TEXT,
    KBN2     TEXT,
    CHK1     TEXT,
    CHK2     TEXT,
    ano      INTEGER
);
-- A file's latest version: its rows by directory number and name, newest level first.
CREATE INDEX FILEKANRI_BYFILE ON FILEKANRI (DIRNO, FILENM, DIR, LVL);
-- A directory's versions file by file (restore, inquiry by directory).
CREATE INDEX FILEKANRI_BYDIR ON FILEKANRI (DIRNO, DIR, FILENM, LVL);
-- The versions one run recorded for one directory, file by file (archiving, inquiry by run).
CREATE INDEX FILEKANRI_BYRUN ON FILEKANRI (BKPNO, DIRNO, FILENM, LVL);

CREATE TABLE SUBDIR (
    CHK      TEXT,
    FULLNAME TEXT,
    SUBDIR   TEXT
);

CREATE TABLE RSTRLIST (
    ID   INTEGER PRIMARY KEY AUTOINCREMENT,
    TEXT TEXT
);

-- The catalog's schema version: one row, VNUM = "V" + version.
CREATE TABLE DBVERSION (
    VNUM TEXT
);

INSERT INTO KBNDEF (KBN, ID, NAIYOU) VALUES
    (1, '1', '通常'),
    (1, '9', '情報のみ'),
    (2, '0', '保存先'),
    (2, '1', '通常'),
    (2, '2', '初期BKP無し'),
    (2, '3', '初期一括BKP'),
    (2, '9', '情報のみ');

INSERT INTO AUTODEF (BKPNO, DIRNO, BIKOU) VALUES (0, 0, NULL);
INSERT INTO DBVERSION (VNUM) VALUES ('V1.04');
