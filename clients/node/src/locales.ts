// The catalogue of locales that scrivia can recognise here.

import type { BinaryOptions } from './binary.js';
import { ScriviaSession } from './session.js';
import { errorText } from './events.js';

export interface LocaleCatalogue {
    locales: string[];
    onDevice: string[];
}

/** Runs `scrivia --list`; rejects if it fails or says nothing within timeoutMs. */
export async function listLocales(
    options: BinaryOptions & { timeoutMs?: number | undefined } = {},
): Promise<LocaleCatalogue> {
    const session = new ScriviaSession(['--list'], { binary: options.binary, env: options.env }); // --list takes no words
    const timer = setTimeout(() => session.kill(), options.timeoutMs ?? 10000);
    let catalogue: LocaleCatalogue | undefined;
    let failure = '';
    try {
        for await (const event of session) {
            if (event.type === 'locales') catalogue = { locales: event.locales, onDevice: event.onDevice };
            if (event.type === 'error') failure = `${errorText(event.code)}: ${event.message}`;
        }
    } finally {
        clearTimeout(timer);
    }
    const exit = await session.exited;
    if (catalogue && exit.status === 0) return catalogue;
    throw new Error(`scrivia --list failed (status ${exit.status}, signal ${exit.signal}) ${failure}`.trim());
}

/**
 * The catalogue's locale for a wanted identifier (`en_US`, `en-us`, `en`):
 * the same one, else the first of the same language; undefined if none.
 */
export function pickLocale(wanted: string, locales: readonly string[]): string | undefined {
    const key = (id: string) => id.replace(/_/g, '-').toLowerCase();
    const language = (id: string) => key(id).split('-')[0];
    return (
        locales.find((id) => key(id) === key(wanted)) ??
        locales.find((id) => language(id) === language(wanted))
    );
}
