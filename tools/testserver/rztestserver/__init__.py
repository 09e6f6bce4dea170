"""A small SQL Server look-alike: TDS 7.4 on TCP, T-SQL executed on SQLite."""
