// Types of <hex-upload-button> and of what its module exports.

/** What `hex-upload-done` and `hex-upload-failed` carry. */
export interface HexUploadDetail {
  /** The release chosen, or null when the manifest could not be read. */
  version: string | null;
  /** The core's exit code; null when a check failed before writing. */
  exitCode: number | null;
  /** The console text of the write, or the line of the failed check. */
  log: string;
}

/** Texts by key (the keys of kTexts.en); {name} stands for a value. */
export type HexUploadTexts = Partial<Record<string, string>>;

export declare const kTexts: {en: Record<string, string>; de: Record<string, string>};
export declare const kFilters: {vendorId: number; productId: number}[];

/** The update button and its dialog. */
export declare class HexUploadButton extends HTMLElement {
  static readonly observedAttributes: string[];
  /** The maker's texts by key; they replace the element's own. */
  texts: HexUploadTexts;
  /** The manifest's URL, relative to the page (the attribute `manifest`). */
  manifest: string | null;
  connectedCallback(): void;
  disconnectedCallback(): void;
  attributeChangedCallback(): void;
}

export declare class NoWebAssembly extends Error {}
export declare function WebAssemblyAllowed(): boolean;
export declare function Format(template: string, values?: Record<string, unknown>): string;

declare global {
  interface HTMLElementTagNameMap {
    'hex-upload-button': HexUploadButton;
  }
  interface HexUploadEventMap {
    'hex-upload-done': CustomEvent<HexUploadDetail>;
    'hex-upload-failed': CustomEvent<HexUploadDetail>;
  }
  // The events bubble out of the element and out of shadow roots.
  interface HTMLElementEventMap extends HexUploadEventMap {}
  interface DocumentEventMap extends HexUploadEventMap {}
}
