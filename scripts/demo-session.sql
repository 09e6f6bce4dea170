\echo ==> A table
CREATE TABLE orders (
    id        INT IDENTITY(1,1) PRIMARY KEY,
    customer  NVARCHAR(40) NOT NULL,
    placed    DATETIME NOT NULL,
    quantity  INT NOT NULL,
    price     FLOAT NULL
)
GO

\echo ==> Rows inserted with bound values (\bind gives the values for the ? of the next batch)
\bind 'Ada Lovelace' datetime:2024-03-01T09:30:00 int:3 float:19.99
INSERT INTO orders (customer, placed, quantity, price) VALUES (?, ?, ?, ?)
GO
\bind 'Alan Turing' datetime:2024-04-11T16:05:00 int:1 float:250
INSERT INTO orders (customer, placed, quantity, price) VALUES (?, ?, ?, ?)
GO
\echo ... and one without a price, as a literal
INSERT INTO orders (customer, placed, quantity) VALUES (N'Grace Hopper', '2024-03-05T14:00:00', 12)
GO

\echo ==> A query
\bind datetime:2024-03-02T00:00:00
SELECT id, customer, placed, quantity, price
FROM orders
WHERE placed > ?
ORDER BY placed
GO

\echo ==> A transaction, rolled back
\begin
DELETE FROM orders WHERE price IS NOT NULL
GO
SELECT COUNT(*) AS orders_inside_the_transaction FROM orders
GO
\rollback
SELECT COUNT(*) AS orders_after_the_rollback FROM orders
GO

\echo ==> The catalogue
\tables
\d orders
