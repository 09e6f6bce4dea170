"""RPC requests (placeholder until the procedures are in)."""
from .errors import SqlError


def handle_rpc(connection, payload, out):
    out.error(SqlError(2812, "Could not find stored procedure ''."))
    out.done(error=True)
