"""Transactions of a session: BEGIN/COMMIT/ROLLBACK/SAVE TRANSACTION in SQL and
the transaction manager requests clients send outside SQL. Both report the
transaction descriptor in ENVCHANGE tokens."""
import sqlite3
import struct

from . import tokens
from .connection_helpers import request_body
from .errors import SqlError, not_supported
from .sqlerrors import translate_error
from .translate import quote_name

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
            begin(session, out)
        elif request in (TM_COMMIT_XACT, TM_ROLLBACK_XACT):
            position = 2
            name_length = body[position] if len(body) > position else 0
            position += 1 + name_length * 2
            flags = body[position] if len(body) > position else 0
            begin_new = bool(flags & 0x01)
            if request == TM_COMMIT_XACT and connection.faults.drop_during_commit:
                connection.drop('the client asks to commit')
            connection.log('transaction manager: %s%s' % ('commit' if request == TM_COMMIT_XACT else 'rollback',
                                                          ' and begin' if begin_new else ''))
            if session.trancount > 0:
                if request == TM_COMMIT_XACT:
                    session.trancount = 1
                    commit(session, out)
                else:
                    rollback(session, out)
            if begin_new:
                begin(session, out)
        elif request == TM_SAVE_XACT:
            raise SqlError(628, 'Cannot issue SAVE TRANSACTION when there is no active transaction.')
        else:
            raise SqlError(8522, 'Distributed transactions are not supported by this server.')
        out.done()
    except SqlError as error:
        out.error(error)
        out.done(error=True)


def _new_descriptor(session):
    session.transaction_descriptor = struct.pack('<Q', (session.spid << 32) | session.next_descriptor)
    session.next_descriptor += 1
    return session.transaction_descriptor


def begin(session, out):
    if session.trancount == 0:
        try:
            session.conn.execute('BEGIN')
        except sqlite3.Error as error:
            raise translate_error(error, session, session.conn)
        out.envchange(tokens.ENV_BEGIN_TRAN, _new_descriptor(session), b'')
    session.trancount += 1


def commit(session, out):
    if session.trancount == 0:
        raise SqlError(3902, 'The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.')
    session.trancount -= 1
    if session.trancount == 0:
        try:
            session.conn.execute('COMMIT')
        except sqlite3.Error as error:
            session.trancount = 1
            raise translate_error(error, session, session.conn)
        old = session.transaction_descriptor
        session.transaction_descriptor = b'\x00' * 8
        out.envchange(tokens.ENV_COMMIT_TRAN, b'', old)


def rollback(session, out, savepoint=None):
    if session.trancount == 0:
        raise SqlError(3903, 'The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION.')
    if savepoint:
        try:
            session.conn.execute('ROLLBACK TO %s' % quote_name(savepoint))
        except sqlite3.Error:
            raise SqlError(6401, 'Cannot roll back %s. No transaction or savepoint of that name was '
                                 'found.' % savepoint)
        return
    session.trancount = 0
    session.savepoints.clear()
    if session.conn.in_transaction:
        session.conn.execute('ROLLBACK')
    old = session.transaction_descriptor
    session.transaction_descriptor = b'\x00' * 8
    out.envchange(tokens.ENV_ROLLBACK_TRAN, b'', old)


def run_statement(session, statement, out):
    word = statement[0].upper
    rest = statement[1:]
    if rest and rest[0].is_word('TRAN', 'TRANSACTION', 'WORK'):
        rest = rest[1:]
    elif word in ('BEGIN', 'SAVE'):
        if word == 'BEGIN' and rest and rest[0].is_word('DISTRIBUTED'):
            raise not_supported('distributed transactions')
        raise not_supported('BEGIN ... END blocks')
    name = rest[0].value if rest and rest[0].kind in ('word', 'name') else None
    if word == 'BEGIN':
        begin(session, out)
    elif word == 'COMMIT':
        commit(session, out)
    elif word == 'SAVE':
        if session.trancount == 0:
            raise SqlError(628, 'Cannot issue SAVE TRANSACTION when there is no active transaction.')
        session.conn.execute('SAVEPOINT %s' % quote_name(name or 'rz_save'))
        session.savepoints.add((name or 'rz_save').lower())
    else:
        savepoint = name if name and name.lower() in session.savepoints else None
        rollback(session, out, savepoint)
    out.done()
