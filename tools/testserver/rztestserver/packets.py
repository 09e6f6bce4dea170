"""TDS packet framing: splitting messages into packets and back."""
import select
import socket
import struct

SQL_BATCH = 0x01
RPC = 0x03
REPLY = 0x04
ATTENTION = 0x06
TRANSACTION_MANAGER = 0x0E
LOGIN7 = 0x10
SSPI = 0x11
PRELOGIN = 0x12

STATUS_EOM = 0x01
HEADER = struct.Struct('>BBHHBB')


class ConnectionClosed(Exception):
    pass


class AttentionReceived(Exception):
    """The client cancelled the request being answered."""


def _recv_exact(sock, count):
    chunks = []
    while count:
        data = sock.recv(count)
        if not data:
            raise ConnectionClosed()
        chunks.append(data)
        count -= len(data)
    return b''.join(chunks)


class PacketStream:
    """Reads whole request messages and writes reply messages on one socket.

    While a reply is being written the socket is polled between packets, so
    an ATTENTION sent in the middle of a long result stops it."""

    def __init__(self, sock, packet_size=4096):
        self.sock = sock
        self.packet_size = packet_size
        self.pending = []          # packets read while writing (type, status, body)
        self.attention = False
        self.packet_id = 1

    def _read_packet(self):
        if self.pending:
            return self.pending.pop(0)
        return self._read_packet_from_socket()

    def read_message(self, on_first_of_several=None):
        """Returns (type, payload) of the next complete client message.
        on_first_of_several(type) is called once the first packet of a
        message that spans several packets has been read."""
        ptype, status, body = self._read_packet()
        if on_first_of_several is not None and not status & STATUS_EOM:
            on_first_of_several(ptype)
        parts = [body]
        while not status & STATUS_EOM:
            more_type, status, body = self._read_packet()
            if more_type == ATTENTION:
                return ATTENTION, b''
            parts.append(body)
        return ptype, b''.join(parts)

    def poll_attention(self):
        """Notices an ATTENTION that arrived while we were busy."""
        if self.attention:
            return True
        while True:
            # Under TLS a whole packet may already be decrypted and waiting.
            buffered = getattr(self.sock, 'pending', None)
            if not (buffered and buffered()):
                readable, _, _ = select.select([self.sock], [], [], 0)
                if not readable:
                    return self.attention
            packet = self._read_packet_from_socket()
            if packet[0] == ATTENTION:
                self.attention = True
            else:
                self.pending.append(packet)

    def _read_packet_from_socket(self):
        header = _recv_exact(self.sock, HEADER.size)
        ptype, status, length, _spid, _pid, _window = HEADER.unpack(header)
        if length < HEADER.size:
            raise ConnectionClosed()
        return ptype, status, _recv_exact(self.sock, length - HEADER.size)

    def send_packet(self, payload, last, ptype=REPLY):
        status = STATUS_EOM if last else 0
        header = HEADER.pack(ptype, status, len(payload) + HEADER.size, 0, self.packet_id, 0)
        self.packet_id = (self.packet_id + 1) & 0xFF
        self.sock.sendall(header + payload)

    def close(self):
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()
