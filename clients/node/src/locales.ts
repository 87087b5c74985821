// The catalogue of locales that scrivia can recognise here.

import { ScriviaSession, type ScriviaOptions } from './session';
import { errorText } from './events';

export interface LocaleCatalogue {
    locales: string[];
    onDevice: string[];
}

/** Runs `scrivia --list`; rejects if it fails or says nothing within timeoutMs. */
export async function listLocales(
    options: Pick<ScriviaOptions, 'binary' | 'env'> & { timeoutMs?: number } = {},
): Promise<LocaleCatalogue> {
    const session = new ScriviaSession(['--list'], options);
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
