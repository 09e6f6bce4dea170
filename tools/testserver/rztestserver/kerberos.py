"""Integrated logins: the server's side of Kerberos through SPNEGO, on
python3-gssapi with the service principal's keys from a keytab."""
import os

from . import packets, tokens
from .errors import SqlError
from .reply import Reply


def untrusted_login():
    """What SQL Server answers an integrated login it cannot accept."""
    return SqlError(18452, 'Login failed. The login is from an untrusted domain and cannot be used with '
                           'Integrated authentication.', state=1, severity=14)


class LoginRefused(Exception):
    pass


class KerberosAcceptor:
    def __init__(self, keytab):
        # Only a server given a keytab needs python3-gssapi.
        import gssapi
        if not os.path.isfile(keytab):
            raise OSError('no keytab %s' % keytab)
        self.gssapi = gssapi
        self.credentials = gssapi.Credentials(usage='accept', store={'keytab': keytab})

    def accept(self, connection, first_token):
        """Runs the exchange that LOGIN7 began: answers each client token that
        leaves the context incomplete with an SSPI token and reads the client's
        next one (an SSPI message). Returns the client's principal name and the
        last token, which goes out with LOGINACK; raises LoginRefused."""
        context = self.gssapi.SecurityContext(creds=self.credentials, usage='accept')
        token = first_token
        while True:
            if not token:
                raise LoginRefused('the client sent no SSPI token')
            # A failed step may hand back a rejection token and keep its
            # error for the next use of the context.
            try:
                answer = context.step(token)
                if context.complete:
                    return str(context.initiator_name), answer or b''
            except self.gssapi.exceptions.GSSError as error:
                raise LoginRefused(str(error).strip()) from None
            reply = Reply(connection)
            reply.add(tokens.sspi(answer or b''))
            reply.finish()
            kind, token = connection.stream.read_message()
            if kind != packets.SSPI:
                raise LoginRefused('expected an SSPI message, got packet type 0x%02X' % kind)
