-- The line's records of loads on a PostgreSQL server (version 13 or later), and the role the
-- stations write them as. Run once by an administrator, in an existing database:
--     psql -d DATABASE -f varnex-records.sql
-- then give the role its password (psql: \password varnex). Running it again changes nothing
-- on a server it made, and brings a server made by an earlier file up to date.
-- varnex never creates or alters these tables itself.
BEGIN;

-- One row per unit loaded, as each station's records file holds it. A row is known by the
-- station, the id of the station's records file (made when the file was created, so a station
-- whose file was replaced never collides with its old rows) and the row's id in that file.
CREATE TABLE IF NOT EXISTS varnex_loads (
    station text NOT NULL,
    journal uuid NOT NULL,
    row_id bigint NOT NULL,
    started_at timestamptz NOT NULL,
    ended_at timestamptz,                 -- null while the load runs, or if it never ended
    port text NOT NULL,
    operation text NOT NULL,              -- bootloader, software, image, erase
    image text NOT NULL,
    image_size bigint NOT NULL,
    image_sha256 text NOT NULL,
    baud integer NOT NULL,
    bytes_sent bigint NOT NULL,
    result text NOT NULL,                 -- confirmed, done, failed, no_confirmation, stopped, interrupted
    reason text NOT NULL,
    duration_ms bigint,
    unit integer NOT NULL,                -- the unit's number on its port
    varnex_version text NOT NULL,
    device text NOT NULL DEFAULT '',      -- the port's device; port holds its name
    serial text NOT NULL DEFAULT '',      -- the unit's serial as scanned from its label; '' when none
    received_at timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (station, journal, row_id)
);
-- A table made by an earlier varnex-records.sql gains the columns added since.
ALTER TABLE varnex_loads ADD COLUMN IF NOT EXISTS device text NOT NULL DEFAULT '';
ALTER TABLE varnex_loads ADD COLUMN IF NOT EXISTS serial text NOT NULL DEFAULT '';
CREATE INDEX IF NOT EXISTS varnex_loads_started ON varnex_loads (started_at);
-- Each station looks a unit's serial up before it loads it (was it loaded before?).
CREATE INDEX IF NOT EXISTS varnex_loads_serial ON varnex_loads (serial) WHERE serial <> '';
CREATE INDEX IF NOT EXISTS varnex_loads_station_started ON varnex_loads (station, started_at);

-- One row per station that forwards its records: who it is, where its board is, and what its
-- ports were doing at its last heartbeat (every few seconds while it runs). heartbeat_at is
-- the server's own clock, so the stations' clocks never make one look silent; ended_at is set
-- when the station stops and cleared when it starts again.
CREATE TABLE IF NOT EXISTS varnex_stations (
    station text PRIMARY KEY,
    host text NOT NULL,
    varnex_version text NOT NULL,
    started_at timestamptz NOT NULL,
    heartbeat_at timestamptz NOT NULL DEFAULT now(),
    ended_at timestamptz,
    board_url text NOT NULL DEFAULT '',  -- the station's web board, '' when it has none
    state jsonb NOT NULL DEFAULT '{}'    -- the shift's counters and each port's step, unit and failure
);

-- The stations' role: it logs in, adds rows and completes them, and reads them back; it may
-- not delete, create or alter anything.
DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_catalog.pg_roles WHERE rolname = 'varnex') THEN
        CREATE ROLE varnex LOGIN;
    END IF;
END
$$;
REVOKE ALL ON varnex_loads FROM varnex;
GRANT SELECT, INSERT, UPDATE ON varnex_loads TO varnex;
REVOKE ALL ON varnex_stations FROM varnex;
GRANT SELECT, INSERT, UPDATE ON varnex_stations TO varnex;
GRANT USAGE ON SCHEMA public TO varnex;

COMMIT;
