"""Writing one reply message token by token, with cancellation and faults."""
import decimal
import struct
import time

from . import tokens
from .errors import SqlError
from .packets import AttentionReceived, ConnectionClosed
from .wire import encode_value


class ReplyAbandoned(Exception):
    """The reply was ended early on purpose (a fault); nothing more is sent for it."""


def _failing_type(columns, values):
    for column, value in zip(columns, values):
        try:
            encode_value(value, column.sqltype)
        except Exception:
            return column.sqltype.sql()
    return 'unknown'


class Reply:
    """Collects the tokens of one reply and sends them as packets.

    Full packets go out as soon as they fill, so a long result streams; an
    ATTENTION noticed between packets raises AttentionReceived."""

    def __init__(self, connection):
        self.connection = connection
        self.stream = connection.stream
        self.buffer = bytearray()
        self.sent_any = False
        self.closed = False
        self.rows = 0

    def _payload_size(self):
        return self.stream.packet_size - 8

    def _before_first_packet(self):
        if not self.sent_any:
            self.sent_any = True
            delay = self.connection.faults.delay_ms
            if delay:
                time.sleep(delay / 1000.0)

    def add(self, data):
        self.buffer += data
        size = self._payload_size()
        while len(self.buffer) > size:
            self._before_first_packet()
            if self.stream.poll_attention():
                raise AttentionReceived()
            self.stream.send_packet(bytes(self.buffer[:size]), last=False)
            del self.buffer[:size]

    def row(self, columns, values):
        faults = self.connection.faults
        if faults.drop_after_rows is not None:
            if self.connection.rows_sent >= faults.drop_after_rows:
                self._drop()
            self.connection.rows_sent += 1
        if faults.garbage_after_rows is not None:
            if self.connection.rows_sent >= faults.garbage_after_rows:
                self._garbage()
            self.connection.rows_sent += 1
        if faults.row_delay_ms:
            if self.rows % max(1, faults.rows_per_delay) == 0:
                self._pause_before_row(faults.row_delay_ms / 1000.0)
            self.rows += 1
        try:
            data = tokens.row(columns, values)
        except (ValueError, OverflowError, struct.error, decimal.InvalidOperation):
            raise SqlError(8115, 'Arithmetic overflow error converting expression to data type %s.'
                           % _failing_type(columns, values))
        self.add(data)

    def _pause_before_row(self, seconds):
        # The rows so far go out first, as RAISERROR ... WITH NOWAIT makes SQL
        # Server send what it has.
        self._before_first_packet()
        if self.buffer:
            self.stream.send_packet(bytes(self.buffer), last=False)
            self.buffer.clear()
        deadline = time.monotonic() + seconds
        while True:
            if self.stream.poll_attention():
                raise AttentionReceived()
            left = deadline - time.monotonic()
            if left <= 0:
                return
            time.sleep(min(left, 0.05))

    def _drop(self):
        self._before_first_packet()
        if self.buffer:
            self.stream.send_packet(bytes(self.buffer), last=False)
        self.buffer.clear()
        self.connection.log('dropping the connection after %d rows (fault)' % self.connection.rows_sent)
        self.stream.close()
        raise ConnectionClosed()

    def _garbage(self):
        # 0xEE is no token type; the lengths after it point past the message.
        self.connection.log('ending the reply with malformed tokens after %d rows (fault)'
                            % self.connection.rows_sent)
        self.buffer += b'\xEE\xFF\xFF' + b'\x5A' * 29
        self.finish()
        raise ReplyAbandoned()

    def finish(self):
        """Sends what is left with the end-of-message flag."""
        if self.closed:
            return
        self.closed = True
        self._before_first_packet()
        size = self._payload_size()
        while len(self.buffer) > size:
            self.stream.send_packet(bytes(self.buffer[:size]), last=False)
            del self.buffer[:size]
        self.stream.send_packet(bytes(self.buffer), last=True)
        self.buffer.clear()

    def acknowledge_attention(self):
        """Ends the reply after a cancel: what was built so far plus DONE(ATTN)."""
        self.stream.attention = False
        self.buffer += tokens.done(tokens.DONE_ATTN)
        self.finish()
