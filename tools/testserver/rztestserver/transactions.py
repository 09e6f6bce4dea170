"""Transaction manager requests: begin, commit and rollback sent outside SQL."""
import struct

from .connection_helpers import request_body
from .errors import SqlError

TM_BEGIN_XACT = 5
TM_PROMOTE_XACT = 6
TM_COMMIT_XACT = 7
TM_ROLLBACK_XACT = 8
TM_SAVE_XACT = 9


def handle_transaction_request(connection, payload, out):
    session = connection.session
    body = request_body(payload)
    request = struct.unpack('<H', body[:2])[0]
    try:
        if request == TM_BEGIN_XACT:
            connection.log('transaction manager: begin')
            session.begin(out)
        elif request in (TM_COMMIT_XACT, TM_ROLLBACK_XACT):
            position = 2
            name_length = body[position] if len(body) > position else 0
            position += 1 + name_length * 2
            flags = body[position] if len(body) > position else 0
            begin_new = bool(flags & 0x01)
            connection.log('transaction manager: %s%s' % ('commit' if request == TM_COMMIT_XACT else 'rollback',
                                                          ' and begin' if begin_new else ''))
            if session.trancount > 0:
                if request == TM_COMMIT_XACT:
                    session.trancount = 1
                    session.commit(out)
                else:
                    session.rollback(out)
            if begin_new:
                session.begin(out)
        elif request == TM_SAVE_XACT:
            raise SqlError(628, 'Cannot issue SAVE TRANSACTION when there is no active transaction.')
        else:
            raise SqlError(8522, 'Distributed transactions are not supported by this server.')
        out.done()
    except SqlError as error:
        out.error(error)
        out.done(error=True)
