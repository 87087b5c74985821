// Type-level only, checked by tsc --noEmit in npm test: each line marked as
// an expected error must fail to compile, so a misspelt event or member, or a
// wrong listener, cannot slip through a host's build.

// What compiles is the README's example, which the package test builds.
import { startScrivia } from 'scrivia-client';

export function handlers(session = startScrivia()): void {
    // @ts-expect-error: a misspelt event
    session.on('fianl', () => {});
    // @ts-expect-error: a member the event does not have
    session.on('partial', (e) => e.txt);
    // @ts-expect-error: once is typed the same way
    session.once('ready', (e) => e.value);
    // @ts-expect-error: and off
    session.off('level', (e: { text: string }) => e.text);
    // @ts-expect-error: an error code that does not exist
    session.on('error', (e) => e.code === 'no-microphone');
}
