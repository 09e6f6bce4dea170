-- The session that ./run-demo runs through rzsql against the local test server.

\echo ==> A table
CREATE TABLE people (
    id      INT IDENTITY(1,1) PRIMARY KEY,
    name    NVARCHAR(50) NOT NULL,
    born    DATE NULL,
    height  DECIMAL(4,2) NULL
)
GO

\echo ==> Rows inserted with bound values (\bind gives the values for the ? of the next batch)
\bind 'Ada Lovelace' date:1815-12-10 float:1.65
INSERT INTO people (name, born, height) VALUES (?, ?, ?)
GO
\bind 'Grace Hopper' date:1906-12-09 null
INSERT INTO people (name, born, height) VALUES (?, ?, ?)
GO
\bind 'Alan Turing' date:1912-06-23 float:1.78
INSERT INTO people (name, born, height) VALUES (?, ?, ?)
GO

\echo ==> A query
\bind date:1900-01-01
SELECT id, name, born, height
FROM people
WHERE born > ?
ORDER BY born
GO

\echo ==> A transaction, rolled back
\begin
DELETE FROM people WHERE height IS NOT NULL
GO
SELECT COUNT(*) AS people_inside_the_transaction FROM people
GO
\rollback
SELECT COUNT(*) AS people_after_the_rollback FROM people
GO

\echo ==> The catalogue
\tables
\d people
